// Finding and opening the touch controller among the present HID interfaces,
// and reading its logical maxima, through the system's setupapi.dll and
// hid.dll (see hid_api_win32.h for how they are loaded).
#include <cstdint>

#include "app/session_state.h"
#include "device/hid_api_win32.h"
#include "device/hid_device.h"

namespace {

// Opens the interface's DevicePath for feature transfers; INVALID_HANDLE_VALUE
// when its detail can't be read or the open fails. The detail buffer lives
// only for this call.
HANDLE OpenInterface(const HidApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData) {
    DWORD required = 0;
    if (api.SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &required,
                                             nullptr)) {
        return INVALID_HANDLE_VALUE;  // no size without a buffer: nothing to open
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return INVALID_HANDLE_VALUE;
    }
    // One spare zeroed character keeps the path terminated even if the
    // detail fills every byte it was given.
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(
        DeviceAllocate(static_cast<std::size_t>(required) + sizeof(WCHAR)));
    if (detail == nullptr) {
        return INVALID_HANDLE_VALUE;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (api.SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, required, nullptr,
                                             nullptr)) {
        handle = CreateFileW(detail->DevicePath, GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    }
    DeviceRelease(detail);
    return handle;
}

// A device whose attributes can't be read does not match.
bool HasVendorId(const HidApi& api, HANDLE handle, std::uint16_t vendorId) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    return api.HidD_GetAttributes(handle, &attributes) && attributes.VendorID == vendorId;
}

// FeatureReportByteLength from the capabilities. False when the preparsed
// data or the capabilities are unavailable; only preparsed data that was
// obtained is released.
bool ReadFeatureReportLength(const HidApi& api, HANDLE handle, std::uint16_t* length) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!api.HidD_GetPreparsedData(handle, &preparsed) || preparsed == nullptr) {
        return false;
    }
    HIDP_CAPS caps{};
    const NTSTATUS status = api.HidP_GetCaps(preparsed, &caps);
    api.HidD_FreePreparsedData(preparsed);
    if (status != HIDP_STATUS_SUCCESS) {
        return false;
    }
    *length = caps.FeatureReportByteLength;
    return true;
}

}  // namespace

bool OpenTouchDevice(std::uint16_t vendorId, std::uint16_t matchIndex) {
    const HidApi* api = LoadHidApi();
    if (api == nullptr) {
        return false;
    }
    api->HidD_GetHidGuid(&gSession.hidGuid);
    HDEVINFO set = api->SetupDiGetClassDevsW(&gSession.hidGuid, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return false;
    }
    std::uint32_t matchesBefore = 0;
    bool opened = false;
    for (DWORD member = 0;; ++member) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!api->SetupDiEnumDeviceInterfaces(set, nullptr, &gSession.hidGuid, member,
                                              &interfaceData)) {
            break;
        }
        HANDLE handle = OpenInterface(*api, set, &interfaceData);
        if (handle == INVALID_HANDLE_VALUE) {
            continue;
        }
        if (!HasVendorId(*api, handle, vendorId)) {
            CloseHandle(handle);
            continue;
        }
        if (matchesBefore != matchIndex) {
            ++matchesBefore;
            CloseHandle(handle);
            continue;
        }
        // The controller. Without its capabilities the open fails; later
        // interfaces are not examined either way.
        std::uint16_t length = 0;
        if (ReadFeatureReportLength(*api, handle, &length)) {
            gSession.device = handle;
            gSession.featureReportLength = length;
            opened = true;
        } else {
            CloseHandle(handle);
        }
        break;
    }
    api->SetupDiDestroyDeviceInfoList(set);
    return opened;
}

bool ReadLogicalMaxima(HANDLE handle, std::int32_t* maxX, std::int32_t* maxY) {
    const HidApi* api = LoadHidApi();
    if (api == nullptr || maxX == nullptr || maxY == nullptr) {
        return false;
    }
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!api->HidD_GetPreparsedData(handle, &preparsed) || preparsed == nullptr) {
        return false;
    }
    constexpr USHORT kCapsWanted = 3;
    auto* caps = static_cast<PHIDP_VALUE_CAPS>(DeviceAllocate(kCapsWanted * sizeof(HIDP_VALUE_CAPS)));
    if (caps == nullptr) {
        api->HidD_FreePreparsedData(preparsed);
        return false;
    }
    USHORT count = kCapsWanted;
    // The status is not consulted: entries the call did not fill stay zero.
    api->HidP_GetValueCaps(HidP_Input, caps, &count, preparsed);
    const LONG logicalMaxX = caps[0].LogicalMax;
    const LONG logicalMaxY = caps[1].LogicalMax;
    DeviceRelease(caps);
    api->HidD_FreePreparsedData(preparsed);
    // A maximum X of 0 or below (no input value at all, or a negative
    // LogicalMax) would scale every calibrated touch to one corner or off the
    // screen; the caller then uses 0x7FFF as for unreadable maxima.
    if (logicalMaxX <= 0) {
        return false;
    }
    *maxX = logicalMaxX;
    *maxY = logicalMaxY;
    return true;
}

void CloseTouchDevice() {
    if (TouchDeviceOpen()) CloseHandle(gSession.device);
    gSession.device = nullptr;
}

// hid.dll tells a gone device by ERROR_DEVICE_NOT_CONNECTED.
bool TouchDeviceGone() {
    return GetLastError() == ERROR_DEVICE_NOT_CONNECTED;
}

// The search passes by what it cannot open without a word, as the
// calibration program always did: there is no more to say.
bool DescribeOpenProblem(char* text, std::size_t size) {
    if (text != nullptr && size > 0) text[0] = '\0';
    return false;
}
