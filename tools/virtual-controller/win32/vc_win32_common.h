// Shared pieces of the replacement hid.dll and setupapi.dll: where the config
// comes from, and the plain files that stand for the devices.
//
// Windows gives every top-level collection of a HID device an interface of
// its own. setupapi.dll hands out, for each collection C (from 1) of
// enumeration entry N of the config, the path
// "<config file>.devices\hid#vid_VVVV&pid_PPPP&colCC#N" ("...#N" without
// "&colCC" for a device of one collection) and creates that file, so the
// program's CreateFileW(OPEN_EXISTING) opens it. A collection the system
// opens for itself (a controller's touch screen) and an other device that
// refuses the open get a directory of that name instead, which
// CreateFileW refuses with ERROR_ACCESS_DENIED. hid.dll maps a handle back to
// its interface through the handle's final path.
#ifndef KELCALIB_TOOLS_VC_WIN32_COMMON_H
#define KELCALIB_TOOLS_VC_WIN32_COMMON_H

#include <windows.h>

#include <string>
#include <vector>

#include "tools/virtual-controller/virtual_controller.h"

// {4D1E55B2-F16F-11CF-88CB-001111000030}: the HID device interface class.
extern const GUID kVcHidGuid;

// The config file named by KELCALIB_VC_CONFIG, as a full path; false when the
// variable is unset or empty.
bool VcConfigPathFromEnvironment(std::wstring* path);

// Reads and parses the config file. On failure `error` says why (the file, or
// "line N: ...") and `config` is empty.
bool VcReadConfigFile(const std::wstring& path, VcConfig* config, std::string* error);

// One HID interface: a top-level collection of an enumeration entry.
struct VcInterface {
    int device;      // the config's enumeration entry
    int collection;  // its collection, from 0 (VcDeviceCollections)
    int collections; // how many the entry has
    bool refusesOpen;
};

// The interfaces of a config, in enumeration order.
std::vector<VcInterface> VcInterfaces(const VcConfig& config);

// The DevicePath of an interface.
std::wstring VcInterfacePath(const std::wstring& configPath, const VcConfig& config,
                             const VcInterface& interface);

// Creates the devices directory and one empty file per interface (a
// directory for one that refuses the open). False when any can't be made.
bool VcCreateDeviceFiles(const std::wstring& configPath, const VcConfig& config);

// The interface whose device file `handle` is open on; false (also for a
// closed or invalid handle: then GetLastError is ERROR_INVALID_HANDLE).
bool VcInterfaceOfHandle(HANDLE handle, const std::wstring& configPath, const VcConfig& config,
                         VcInterface* interface);

// Reports a config problem on stderr, once per distinct message.
void VcReportConfigError(const char* dll, const std::string& message);

#endif  // KELCALIB_TOOLS_VC_WIN32_COMMON_H
