// kelcalib-ctl: the support tool's commands over the controller link, one
// file each (ctl_list, ctl_watch, ctl_commit, ctl_doctor*), and what they
// share: failing with one line, listing and opening the controllers.
#ifndef KELCALIB_CTL_CTL_COMMANDS_H
#define KELCALIB_CTL_CTL_COMMANDS_H

#include <cstddef>
#include <cstdint>

#include "ctl/ctl_options.h"
#include "device/hid_enumerate.h"

// Runs the command line (arguments in UTF-8) and returns the exit status.
int RunCtl(int argc, const char* const* argv);

// The commands.
int RunList(const CtlOptions& options);
int RunWatch(const CtlOptions& options);
int RunReset(const CtlOptions& options);
int RunApply(const CtlOptions& options);

// The message on stderr after the program's name (a message of several
// lines, the permission advice, keeps its own line breaks); returns `status`.
int Fail(int status, const char* format, ...);

// Every HID interface in search order, in memory the caller frees; null when
// the system's list can't be read.
HidInterfaceInfo* ListInterfaces(std::uint16_t vendorId, int* count);

enum class OpenResult { kOpened, kNoController, kNoPermission, kFailed };

// Opens match index `index` of the controllers of `vendorId` into gSession
// (device, feature report length, logical maxima with the 0x7FFF fallback).
// On anything but kOpened `why` says why, from a listing of the interfaces
// as the search saw them.
OpenResult OpenController(std::uint16_t vendorId, std::uint16_t index, char* why, std::size_t whySize);

// OpenController of the options' controller, or the failure's exit status.
int OpenOrFail(const CtlOptions& options);

#endif  // KELCALIB_CTL_CTL_COMMANDS_H
