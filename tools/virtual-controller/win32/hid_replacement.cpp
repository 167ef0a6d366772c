// Replacement hid.dll: presents the virtual controller model to the program.
//
// The model (active coefficients, cue and reply state, fault counters) lives
// in this DLL for the life of the process; the committed store and the
// transfer log are the files named in the config. Each handle is open on one
// interface, a top-level collection of a device, with that collection's
// capabilities. The contracts of the real hid.dll are enforced strictly:
// HIDD_ATTRIBUTES.Size, closed handles, preparsed data that must be live to
// be used or freed, and, before any transfer reaches the device, the buffer
// length against the collection's feature report length and the report ID
// against the collection's feature reports (without report IDs only 0).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <hidsdi.h>
}

#include "tools/virtual-controller/win32/vc_win32_common.h"
#include "tools/virtual-controller/win32/vc_win32_touch.h"

namespace {

constexpr std::uint32_t kPreparsedMagic = 0x4B565050;  // "KVPP"

struct PreparsedData {
    std::uint32_t magic;
    VcDeviceInfo info;
    VcCollection collection;
};

struct HidState {
    bool loaded;
    std::wstring configPath;
    VcSystem system;
    std::vector<PreparsedData*> livePreparsed;
    long invalidFrees;   // HidD_FreePreparsedData of data not handed out
    int injectedFailure; // test knob, see KelVcInjectFailure
};

HidState& State() {
    static HidState state;
    return state;
}

// (Re)reads the config named by the environment and starts every device
// afresh. Without a readable config there are no devices.
bool Reload() {
    HidState& state = State();
    state.loaded = true;
    VcConfig config;
    bool ok = false;
    std::wstring path;
    if (VcConfigPathFromEnvironment(&path)) {
        std::string error;
        ok = VcReadConfigFile(path, &config, &error);
        if (!ok) VcReportConfigError("hid.dll", error);
    }
    state.configPath = ok ? path : std::wstring();
    state.invalidFrees = 0;
    state.injectedFailure = 0;
    VcReset(&state.system, ok ? config : VcConfig());
    // What passes the collection's checks reaches the device as its own
    // report, at that report's length.
    state.system.wireRequests = true;
    return ok;
}

HidState& Loaded() {
    HidState& state = State();
    if (!state.loaded) Reload();
    return state;
}

// The enumeration entry behind `handle`, or -1 with the last error set.
int DeviceOf(HANDLE handle, VcInterface* interface = nullptr) {
    HidState& state = Loaded();
    VcInterface found{};
    if (!VcInterfaceOfHandle(handle, state.configPath, state.system.config, &found)) return -1;
    if (interface != nullptr) *interface = found;
    return found.device;
}

// The collection an interface stands for, with its device's facts.
bool CollectionOf(const VcInterface& interface, VcDeviceInfo* info, VcCollection* collection) {
    if (!VcGetDeviceInfo(State().system, interface.device, info)) return false;
    VcCollection collections[kVcMaxCollections];
    const int count = VcDeviceCollections(*info, collections);
    if (interface.collection >= count) return false;
    *collection = collections[interface.collection];
    return true;
}

PreparsedData* LivePreparsed(PHIDP_PREPARSED_DATA data) {
    HidState& state = Loaded();
    auto* preparsed = reinterpret_cast<PreparsedData*>(data);
    if (std::find(state.livePreparsed.begin(), state.livePreparsed.end(), preparsed) ==
        state.livePreparsed.end()) {
        return nullptr;
    }
    return preparsed->magic == kPreparsedMagic ? preparsed : nullptr;
}

BOOLEAN Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD ErrorOf(VcResult result) {
    switch (result) {
        case VcResult::kOk: return ERROR_SUCCESS;
        case VcResult::kRefused: return ERROR_GEN_FAILURE;  // the device stalls the request
        case VcResult::kBadLength: return ERROR_INVALID_PARAMETER;
        case VcResult::kGone: return ERROR_DEVICE_NOT_CONNECTED;
    }
    return ERROR_GEN_FAILURE;
}

// A feature transfer as the HID class checks it before any I/O: the
// controller behind the handle (other HID devices have no feature report of
// ours) and, in its collection, a buffer of the feature report length and a
// report ID the collection declares (0 when it declares none). -1 with the
// last error set; else the controller, with the length of the report under
// that ID (the bytes that reach the device).
int ControllerOf(HANDLE handle, PVOID buffer, ULONG bufferLength, std::uint32_t* reportLength) {
    VcInterface interface{};
    if (DeviceOf(handle, &interface) < 0) return -1;
    VcDeviceInfo info{};
    VcCollection collection{};
    if (!CollectionOf(interface, &info, &collection) || !info.isController) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return -1;
    }
    if (buffer == nullptr) {
        SetLastError(ERROR_NOACCESS);
        return -1;
    }
    const std::uint8_t id = static_cast<const std::uint8_t*>(buffer)[0];
    *reportLength = 0;
    for (int i = 0; i < collection.reportCount; ++i) {
        if (collection.reports[i].id == id) *reportLength = collection.reports[i].length;
    }
    if (collection.featureReportLength == 0 || bufferLength != collection.featureReportLength ||
        *reportLength == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    return info.controllerIndex;
}

void DelayTransfer(int controller) {
    const std::uint32_t delay = VcTransferDelayMs(State().system, controller);
    if (delay > 0) Sleep(delay);
}

// KELCALIB_VC_REFUSE_BOXES set (to anything): from the program's first
// feature write on, its thread cannot open a dialog window, so each of its
// message boxes fails to open, as a box can on a real desktop. A thread hook
// of that thread refuses the creation.
LRESULT CALLBACK RefuseDialogWindows(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        wchar_t name[16] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, 16);
        if (std::wcscmp(name, L"#32770") == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void RefuseBoxesWhenAsked() {
    static bool asked = false;
    if (asked) return;
    asked = true;
    if (GetEnvironmentVariableW(L"KELCALIB_VC_REFUSE_BOXES", nullptr, 0) == 0) return;
    if (SetWindowsHookExW(WH_CBT, RefuseDialogWindows, nullptr, GetCurrentThreadId()) == nullptr) {
        std::fprintf(stderr, "hid.dll: KELCALIB_VC_REFUSE_BOXES: no hook (error %lu)\n", GetLastError());
    }
}

}  // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID hidGuid) {
    if (hidGuid != nullptr) *hidGuid = kVcHidGuid;
}

BOOLEAN NTAPI HidD_GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
    if (attributes == nullptr || attributes->Size != sizeof(HIDD_ATTRIBUTES)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const int device = DeviceOf(handle);
    if (device < 0) return FALSE;
    VcDeviceInfo info{};
    if (!VcGetDeviceInfo(State().system, device, &info)) return Fail(ERROR_INVALID_FUNCTION);
    if (!info.attributesReadable) return Fail(ERROR_GEN_FAILURE);
    attributes->VendorID = info.vendorId;
    attributes->ProductID = info.productId;
    attributes->VersionNumber = info.versionNumber;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* preparsedData) {
    if (preparsedData == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    VcInterface interface{};
    if (DeviceOf(handle, &interface) < 0) return FALSE;
    if (State().injectedFailure == 1) return Fail(ERROR_GEN_FAILURE);
    auto* preparsed = new (std::nothrow) PreparsedData();
    if (preparsed == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    preparsed->magic = kPreparsedMagic;
    if (!CollectionOf(interface, &preparsed->info, &preparsed->collection)) {
        delete preparsed;
        return Fail(ERROR_INVALID_FUNCTION);
    }
    State().livePreparsed.push_back(preparsed);
    *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    PreparsedData* preparsed = LivePreparsed(preparsedData);
    if (preparsed == nullptr) {
        ++State().invalidFrees;
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::vector<PreparsedData*>& live = State().livePreparsed;
    live.erase(std::find(live.begin(), live.end(), preparsed));
    preparsed->magic = 0;
    delete preparsed;
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities) {
    const PreparsedData* preparsed = LivePreparsed(preparsedData);
    if (preparsed == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (capabilities == nullptr) return HIDP_STATUS_NULL;
    if (State().injectedFailure == 2) return HIDP_STATUS_INTERNAL_ERROR;
    std::memset(capabilities, 0, sizeof(*capabilities));
    const VcCollection& collection = preparsed->collection;
    capabilities->UsagePage = collection.usagePage;
    capabilities->Usage = collection.usage;
    // The report ID byte, the tip switch's byte, 16 bits per value.
    capabilities->InputReportByteLength =
        collection.input ? static_cast<USHORT>(2 + 2 * collection.valueCapCount) : 0;
    capabilities->FeatureReportByteLength = collection.featureReportLength;
    capabilities->NumberLinkCollectionNodes = 1;
    capabilities->NumberInputValueCaps = static_cast<USHORT>(collection.valueCapCount);
    capabilities->NumberInputDataIndices = static_cast<USHORT>(collection.valueCapCount);
    return HIDP_STATUS_SUCCESS;
}

NTSTATUS NTAPI HidP_GetValueCaps(HIDP_REPORT_TYPE reportType, PHIDP_VALUE_CAPS valueCaps,
                                 PUSHORT valueCapsLength, PHIDP_PREPARSED_DATA preparsedData) {
    const PreparsedData* preparsed = LivePreparsed(preparsedData);
    if (preparsed == nullptr) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (valueCapsLength == nullptr) return HIDP_STATUS_NULL;
    if (reportType != HidP_Input && reportType != HidP_Output && reportType != HidP_Feature) {
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    }
    if (State().injectedFailure == 3) {
        *valueCapsLength = 0;
        return HIDP_STATUS_INTERNAL_ERROR;
    }
    const int available = reportType == HidP_Input ? preparsed->collection.valueCapCount : 0;
    const int room = valueCaps == nullptr ? 0 : *valueCapsLength;
    const int filled = std::min(available, room);
    for (int i = 0; i < filled; ++i) {
        HIDP_VALUE_CAPS& cap = valueCaps[i];
        std::memset(&cap, 0, sizeof(cap));
        cap.UsagePage = 0x01;  // generic desktop: X, Y, Z
        cap.ReportID = 0;
        cap.IsAbsolute = TRUE;
        cap.BitSize = 16;
        cap.ReportCount = 1;
        cap.LogicalMin = 0;
        cap.LogicalMax = preparsed->info.logicalMax[i];
        cap.NotRange.Usage = static_cast<USAGE>(0x30 + i);
        cap.NotRange.DataIndex = static_cast<USHORT>(i);
    }
    *valueCapsLength = static_cast<USHORT>(filled);
    return filled < available ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
}

// Controllers are named "Virtual touch controller N", other devices
// "Virtual HID device N" (N: their place in the config).
BOOLEAN NTAPI HidD_GetProductString(HANDLE handle, PVOID buffer, ULONG bufferLength) {
    const int device = DeviceOf(handle);
    if (device < 0) return FALSE;
    VcDeviceInfo info{};
    if (!VcGetDeviceInfo(State().system, device, &info)) return Fail(ERROR_INVALID_FUNCTION);
    wchar_t name[64];
    const int length = std::swprintf(name, 64, info.isController ? L"Virtual touch controller %d"
                                                                 : L"Virtual HID device %d",
                                     device);
    const ULONG bytes = static_cast<ULONG>(length + 1) * sizeof(wchar_t);
    if (buffer == nullptr || bufferLength < bytes) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, name, bytes);
    return TRUE;
}

BOOLEAN NTAPI HidD_SetFeature(HANDLE handle, PVOID buffer, ULONG bufferLength) {
    RefuseBoxesWhenAsked();
    std::uint32_t length = 0;
    const int controller = ControllerOf(handle, buffer, bufferLength, &length);
    if (controller < 0) return FALSE;
    DelayTransfer(controller);
    const VcResult result = VcSetFeature(&State().system, controller,
                                         static_cast<const std::uint8_t*>(buffer), length);
    return result == VcResult::kOk ? TRUE : Fail(ErrorOf(result));
}

BOOLEAN NTAPI HidD_GetFeature(HANDLE handle, PVOID buffer, ULONG bufferLength) {
    std::uint32_t length = 0;
    const int controller = ControllerOf(handle, buffer, bufferLength, &length);
    if (controller < 0) return FALSE;
    DelayTransfer(controller);
    auto* report = static_cast<std::uint8_t*>(buffer);
    const VcResult result = VcGetFeature(&State().system, controller, report, length, VcCurrentTouch());
    if (result != VcResult::kOk) return Fail(ErrorOf(result));
    // A report shorter than the collection's longest leaves the rest zero.
    std::memset(report + length, 0, bufferLength - length);
    return TRUE;
}

// Test support ---------------------------------------------------------------

// Re-reads the config named by KELCALIB_VC_CONFIG and starts every device
// afresh (the log file is appended to, not cleared). TRUE when it was read.
BOOL WINAPI KelVcReload() {
    return Reload() ? TRUE : FALSE;
}

// How many preparsed data blocks are handed out and not yet freed.
LONG WINAPI KelVcLivePreparsedData() {
    return static_cast<LONG>(Loaded().livePreparsed.size());
}

// How many HidD_FreePreparsedData calls got data that was not handed out
// (or was freed already) since the last reload.
LONG WINAPI KelVcInvalidFrees() {
    return Loaded().invalidFrees;
}

// Makes a HID call fail from now until the next reload: 0 none,
// 1 HidD_GetPreparsedData, 2 HidP_GetCaps, 3 HidP_GetValueCaps.
void WINAPI KelVcInjectFailure(int which) {
    Loaded().injectedFailure = which;
}

// The active coefficients of controller `controller`: for X then Y, factor
// of raw x, factor of raw y, offset, divisor. FALSE for no such controller.
BOOL WINAPI KelVcActiveCoefficients(int controller, INT32 values[8]) {
    const VcSystem& system = Loaded().system;
    if (values == nullptr || controller < 0 ||
        controller >= static_cast<int>(system.controllers.size())) {
        return FALSE;
    }
    const VcCoefficients& active = system.controllers[static_cast<std::size_t>(controller)].active;
    for (int axis = 0; axis < 2; ++axis) {
        values[axis * 4 + 0] = active.axis[axis].factorX;
        values[axis * 4 + 1] = active.axis[axis].factorY;
        values[axis * 4 + 2] = active.axis[axis].offset;
        values[axis * 4 + 3] = active.axis[axis].divisor;
    }
    return TRUE;
}

}  // extern "C"
