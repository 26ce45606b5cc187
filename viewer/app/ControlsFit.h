// The controls under the view in the room of a window of the layout's first size (1160 pixels
// wide): the laser pages and the Stats box, whose rows have grown with the viewer, scroll inside
// their cells instead of widening the window past that size or being squeezed over each other.
#pragma once

class Ui_MainWindow;

namespace window {

// Puts the laser pages and the Stats box each in a scroll area of their own, in the cells of the
// controls' grid they held. Their widgets and names stay as they were. Call once the Stats box
// has all its rows.
void fitControls(Ui_MainWindow& ui);

} // namespace window
