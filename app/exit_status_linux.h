// The Linux program's exit statuses, one for each way it can end (the
// manual page's EXIT STATUS lists them). kelcalib.exe keeps its own: 1 for
// a second copy, 0 for everything else.
#ifndef KELCALIB_APP_EXIT_STATUS_LINUX_H
#define KELCALIB_APP_EXIT_STATUS_LINUX_H

constexpr int kExitOk = 0;    // Yes, and the controller committed the calibration
constexpr int kExitCannotStart = 1;   // another copy runs, no display, the screen cannot open
constexpr int kExitBadOption = 2;     // a bad option, or no such display
constexpr int kExitNoController = 3;  // none of the vendor ID (or as named), in use, or gone
constexpr int kExitNotPermitted = 4;  // the controller is there but this user may not open it
constexpr int kExitAbandoned = 5;     // Esc, a close request, a signal, the display lost
constexpr int kExitRefused = 6;       // the controller refused the identity records or the commit

#endif  // KELCALIB_APP_EXIT_STATUS_LINUX_H
