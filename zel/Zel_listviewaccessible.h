#pragma once
// What screen readers see of a list view: a table of cells under column
// headers, answered from the control's state bits, with a cache of the cells
// a client has asked for so that each keeps one identity and hears of its own
// changes. The listener for tests is set through Zel_listviews.h.

// Makes Qt ask the list views' own interface; the first call does it.
void InstallListViewAccessibleFactory();

// Qt's accessibility bridge is active, or a listener is set: changes are told.
bool ListViewAccessibilityActive();
