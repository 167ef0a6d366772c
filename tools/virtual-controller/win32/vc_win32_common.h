// Shared pieces of the replacement hid.dll and setupapi.dll: where the config
// comes from, and the plain files that stand for the devices.
//
// setupapi.dll hands out, for enumeration entry N of the config, the path
// "<config file>.devices\hid#vid_VVVV&pid_PPPP#N" and creates that file, so
// the program's CreateFileW(OPEN_EXISTING) opens it. hid.dll maps a handle
// back to its entry through the handle's final path.
#ifndef KELCALIB_TOOLS_VC_WIN32_COMMON_H
#define KELCALIB_TOOLS_VC_WIN32_COMMON_H

#include <windows.h>

#include <string>

#include "tools/virtual-controller/virtual_controller.h"

// {4D1E55B2-F16F-11CF-88CB-001111000030}: the HID device interface class.
extern const GUID kVcHidGuid;

// The config file named by KELCALIB_VC_CONFIG, as a full path; false when the
// variable is unset or empty.
bool VcConfigPathFromEnvironment(std::wstring* path);

// Reads and parses the config file. On failure `error` says why (the file, or
// "line N: ...") and `config` is empty.
bool VcReadConfigFile(const std::wstring& path, VcConfig* config, std::string* error);

// The DevicePath of enumeration entry `deviceIndex`.
std::wstring VcDevicePath(const std::wstring& configPath, const VcConfig& config, int deviceIndex);

// Creates the devices directory and one empty file per entry (a directory
// for a device that refuses the open). False when any of them can't be made.
bool VcCreateDeviceFiles(const std::wstring& configPath, const VcConfig& config);

// The enumeration entry whose device file `handle` is open on, or -1 (also
// for a closed or invalid handle: then GetLastError is ERROR_INVALID_HANDLE).
int VcDeviceIndexOfHandle(HANDLE handle, const std::wstring& configPath, const VcConfig& config);

// Reports a config problem on stderr, once per distinct message.
void VcReportConfigError(const char* dll, const std::string& message);

#endif  // KELCALIB_TOOLS_VC_WIN32_COMMON_H
