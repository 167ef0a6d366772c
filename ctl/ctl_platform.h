// What kelcalib-ctl needs from the system beyond the controller link
// (device/hid_device.h): Ctrl-C, a running calibration, the input devices of
// a controller, a clock and files. One implementation per system (ctl_platform_linux.cpp,
// ctl_platform_win32.cpp).
#ifndef KELCALIB_CTL_CTL_PLATFORM_H
#define KELCALIB_CTL_CTL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "ctl/ctl_output.h"
#include "device/hid_enumerate.h"

// From now on Ctrl-C (and on Linux SIGTERM and SIGHUP, a dropped terminal
// or ssh session) only sets the flag that CtlInterrupted reads;
// CtlInterruptHandled says the program has finished ending itself (Windows
// waits for it when the console window is closed). CtlInterruptNow sets the
// flag itself (a write that failed ends the program the same way).
void CtlCatchInterrupt();
bool CtlInterrupted();
void CtlInterruptNow();
void CtlInterruptHandled();

// At start: a write to a closed pipe fails (EPIPE) instead of ending the
// program, so that it can still send the abort command (Linux: SIGPIPE
// ignored).
void CtlIgnoreBrokenPipe();

// Fills the input devices of `controller` the system made from the
// interface `info` (Linux: the event devices sysfs shows under the same HID
// device); a count of -1 where the system has no such thing to tell.
void CtlInputDevices(const HidInterfaceInfo& info, CtlListedController* controller);

// Before reset or apply: true when no calibration program runs that they
// could cut into, and from then on none can start until the tool exits
// (Windows: kelcalib.exe's one-copy mutex, taken; Linux: the lock on the
// controller's node does this, so always true). On false `why` says which
// program runs and what to do.
bool CtlKeepCalibrationOut(char* why, std::size_t whySize);

// A monotonic clock in milliseconds.
std::uint64_t CtlMilliseconds();

// Opens a file named in UTF-8 for reading (binary); null on failure.
std::FILE* CtlOpenFileForReading(const char* path);

#endif  // KELCALIB_CTL_CTL_PLATFORM_H
