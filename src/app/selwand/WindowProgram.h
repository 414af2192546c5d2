// Selwand with its window: everything after the frame's start-up when a
// graphical display is there.
#pragma once

class QApplication;

namespace kes {

// Creates the monitoring, the window and the tray, runs the event loop and
// returns the exit status: 0, 3 when the settings could not be saved at
// the end, 4 when another Selwand uses the same settings file.
int RunSelwandWindow(QApplication& app);

} // namespace kes
