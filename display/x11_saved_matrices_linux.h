// The X devices' matrices a calibration session changes, saved in the X
// server before they change, so that a session that ends without putting
// them back (killed, crashed) leaves them for the next run and for
// kelcalib-ctl doctor to put back. A session owns the selection
// "kelcalib-session" while it runs (the X server drops it with the session's
// connection, however the session ends) and keeps the matrices as they were
// in the property "kelcalib-saved-matrices" of the first screen's root
// window: one line per device, "ID NODE M0 .. M8".
#ifndef KELCALIB_DISPLAY_X11_SAVED_MATRICES_LINUX_H
#define KELCALIB_DISPLAY_X11_SAVED_MATRICES_LINUX_H

#include "display/x11_touch_devices_linux.h"

// Owns the selection and saves the devices' matrices (those that have
// one). False when another session owns the selection or the X server
// refused: nothing is saved then.
bool SaveXMatrices(Display* display, const XTouchDevices& devices);

// The session put the matrices back, or keeps the change: the saved ones
// are dropped (the selection stays until the connection closes).
void ForgetSavedXMatrices(Display* display);

// Matrices a session saved that no running session owns: each is put back
// on the device of the same id and "Device Node" still there, and the
// property is deleted. Fills `names` with those devices' names (printable)
// and returns how many were put back; 0 when there was nothing to do or a
// session is running.
constexpr int kMostRestoredNames = 8;
int RestoreLeftXMatrices(Display* display, char names[kMostRestoredNames][96]);

#endif  // KELCALIB_DISPLAY_X11_SAVED_MATRICES_LINUX_H
