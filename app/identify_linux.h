// kelcalib --identify: which controller is on which display. Each display
// in turn shows "Touch this screen" with its number, while every controller
// of the vendor ID has been cued and is read, as a pass reads its targets;
// the first controller that reports a touch is paired with that display.
#ifndef KELCALIB_APP_IDENTIFY_LINUX_H
#define KELCALIB_APP_IDENTIFY_LINUX_H

// Runs it and prints the pairs on stdout (controller node, its input event
// devices, display number and name; `json`: one JSON object). Esc, or 20 s
// without a touch, passes a display by; a close request, a signal or the
// display lost ends it. Every opened controller gets the abort command at
// the end. Returns the exit status (exit_status_linux.h): kExitOk
// when the displays were shown, kExitNoController or kExitNotPermitted when
// no controller could be opened, kExitCannotStart when a window could not,
// kExitAbandoned when it was ended early.
int RunIdentify(const char* fontPath, bool json);

#endif  // KELCALIB_APP_IDENTIFY_LINUX_H
