// What kelcalib-ctl needs from the system beyond the controller link: opening
// a controller with the reason when it can't be, Ctrl-C, and files. One
// implementation per system (ctl_platform_linux.cpp, ctl_platform_win32.cpp).
#ifndef KELCALIB_APP_CTL_CTL_PLATFORM_H
#define KELCALIB_APP_CTL_CTL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "device/hid_enumerate.h"

enum class CtlOpenResult { kOpened, kNoController, kNoPermission, kFailed };

// Opens match index `index` of the controllers of `vendorId` into gSession
// (device, feature report length, logical maxima with the 0x7FFF fallback).
// On anything but kOpened `why` holds one line for the user.
CtlOpenResult CtlOpenController(std::uint16_t vendorId, std::uint16_t index, char* why,
                                std::size_t whySize);

// Closes the controller opened by CtlOpenController; no-op when none is open.
void CtlCloseController();

// True when `info` (an interface that could not be opened) may be a
// controller of `vendorId` that this user lacks the permission to open; then
// `why` says what to do about it.
bool CtlDeniedController(const HidInterfaceInfo& info, std::uint16_t vendorId, char* why,
                         std::size_t whySize);

// From now on Ctrl-C (and on Linux SIGTERM) only sets the flag that
// CtlInterrupted reads; CtlInterruptHandled says the program has finished
// ending itself (Windows waits for it when the console window is closed).
void CtlCatchInterrupt();
bool CtlInterrupted();
void CtlInterruptHandled();

// A monotonic clock in milliseconds.
std::uint64_t CtlMilliseconds();

// Opens a file named in UTF-8 for reading (binary); null on failure.
std::FILE* CtlOpenFileForReading(const char* path);

#endif  // KELCALIB_APP_CTL_CTL_PLATFORM_H
