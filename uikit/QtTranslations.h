#pragma once
// Qt's own windows and buttons (file and print dialogs, page set-up, the "Yes" and "No" of
// a message box) speak Chinese like every other text of the system, whatever the locale:
// Qt's zh_CN catalogue is loaded into the application.
//
// Once per process, also when the host program and the control library, each with its
// own copy of this code, both ask: the application carries the mark. False when there is
// no application yet or the catalogue is not installed (Qt's English then stays).
bool LoadQtChineseTranslations();
