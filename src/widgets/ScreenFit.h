#pragma once
// Windows and tables that fit: a window inside the screen's free area at
// whatever scale, a table's cells shown whole.

class QAbstractItemView;
class QWidget;

namespace Ui {

// Each time the window is shown it is moved inside the screen's free area
// and made no larger than it. Where its controls need more room than that
// (a window of fixed size, a layout taller than the screen) they are put in
// a scroll area that takes the window's place.
void fitScreen(QWidget *window);

// The widget holding the window's controls: the window itself, or the
// scroll area's inside once fitScreen put them there.
QWidget *controlsOf(QWidget *window);

// Whenever its cells change: the columns as wide as their contents (a
// stretched one keeps the rest) and each row as tall as its wrapped text.
// Tab leaves the table rather than walking its cells.
void fitCells(QAbstractItemView *view);

} // namespace Ui
