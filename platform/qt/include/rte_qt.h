// The Qt 6 Widgets front end of the run-time engine.
#pragma once

// Creates the QApplication (or adopts one that already exists) and installs
// the Qt front end, so that the next InitRTEEx draws the panels in windows,
// shows pop-ups as dialogs and runs RunUserInterface on Qt's event loop.
// Call it on the thread that will call RunUserInterface, before InitRTEEx.
// argc and argv are handed to QApplication, which keeps them and removes the
// options it understands (-platform, -style, ...); *argc must outlive the
// engine. Returns 0, or -1 with a message on stderr when there is no display
// to draw on (no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM).
int RTE_InstallQtFrontEnd(int* argc, char** argv);
