// Registers the windows that hold attachments and office documents with the dispatcher.
#pragma once

void RegisterOfficeWindows();
