#pragma once
// What screen readers and UI automation see of a flow chart: a chart whose children are its
// step objects, read through Qt's accessibility.

// Each chart calls these from its constructor and destructor: the factory is installed while
// charts of this copy of the library exist.
void FlowChartAccessibleAdded();
void FlowChartAccessibleRemoved();
