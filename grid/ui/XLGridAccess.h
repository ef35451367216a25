#pragma once
// What screen readers and UI automation see of the grid's panes: a table whose children are
// the cells shown, read through Qt's accessibility.

// Each pane calls these from its constructor and destructor: the factory is installed while
// panes of this copy of the library exist.
void XLViewAccessibleAdded();
void XLViewAccessibleRemoved();
