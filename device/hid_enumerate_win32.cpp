// Every present HID interface as the support tool lists it, through the
// system's setupapi.dll and hid.dll, in the order OpenTouchDevice searches
// them and opened the same way. Only the support tool calls this; the
// calibration program never links it.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "device/hid_api_win32.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"
#include "device/name_text.h"

namespace {

// hid.dll's product string call. Not among the calibration program's entry
// points, so looked up on its own; a hid.dll without it leaves names empty.
typedef BOOLEAN(WINAPI* GetProductStringFunction)(HANDLE device, PVOID buffer, ULONG length);

GetProductStringFunction ProductStringFunction() {
    const HMODULE hid = GetModuleHandleW(L"hid.dll");
    if (hid == nullptr) return nullptr;
    const FARPROC address = GetProcAddress(hid, "HidD_GetProductString");
    return reinterpret_cast<GetProductStringFunction>(reinterpret_cast<void (*)()>(address));
}

// UTF-8 of `text` in `out`, cut at a character boundary when it does not fit.
void CopyUtf8(const wchar_t* text, char* out, std::size_t size) {
    out[0] = '\0';
    const int needed = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return;
    auto* whole = static_cast<char*>(DeviceAllocate(static_cast<std::size_t>(needed)));
    if (whole == nullptr) return;
    WideCharToMultiByte(CP_UTF8, 0, text, -1, whole, needed, nullptr, nullptr);
    std::size_t length = std::strlen(whole);
    if (length >= size) {
        length = size - 1;
        while (length > 0 && (static_cast<unsigned char>(whole[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(out, whole, length);
    out[length] = '\0';
    DeviceRelease(whole);
}

void SetProblem(HidInterfaceInfo* info, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(info->problem, sizeof info->problem, format, arguments);
    va_end(arguments);
}

// The system's words for a Win32 error, on one line.
void ErrorText(DWORD error, char* out, std::size_t size) {
    wchar_t text[200];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, text, 200, nullptr);
    if (length == 0) {
        std::snprintf(out, size, "error %lu", static_cast<unsigned long>(error));
        return;
    }
    CopyUtf8(text, out, size);
    std::size_t end = std::strlen(out);
    while (end > 0 && (out[end - 1] == '\r' || out[end - 1] == '\n' || out[end - 1] == ' ' ||
                       out[end - 1] == '.')) {
        out[--end] = '\0';
    }
}

// The interface's DevicePath into `info->path` and a handle opened as
// OpenTouchDevice opens it; INVALID_HANDLE_VALUE with the problem set when
// either fails.
HANDLE OpenInterface(const HidApi& api, HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                     HidInterfaceInfo* info) {
    DWORD required = 0;
    if (api.SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetProblem(info, "its device path cannot be read");
        return INVALID_HANDLE_VALUE;
    }
    auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(
        DeviceAllocate(static_cast<std::size_t>(required) + sizeof(WCHAR)));
    if (detail == nullptr) {
        SetProblem(info, "out of memory");
        return INVALID_HANDLE_VALUE;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (!api.SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, required, nullptr,
                                              nullptr)) {
        SetProblem(info, "its device path cannot be read");
    } else {
        CopyUtf8(detail->DevicePath, info->path, sizeof info->path);
        handle = CreateFileW(detail->DevicePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            char text[160];
            ErrorText(error, text, sizeof text);
            SetProblem(info, "cannot be opened: %s (error %lu)", text,
                       static_cast<unsigned long>(error));
        }
    }
    DeviceRelease(detail);
    return handle;
}

// Vendor, product and name of an open interface, and for a controller of
// ours its feature report length and logical maxima.
void Query(const HidApi& api, HANDLE handle, std::uint16_t vendorId, HidInterfaceInfo* info) {
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof(attributes);
    if (!api.HidD_GetAttributes(handle, &attributes)) {
        SetProblem(info, "its vendor and product IDs cannot be read");
        return;
    }
    info->queried = true;
    info->vendorId = attributes.VendorID;
    info->productId = attributes.ProductID;
    const GetProductStringFunction getProductString = ProductStringFunction();
    wchar_t name[128] = {};
    if (getProductString != nullptr && getProductString(handle, name, sizeof name - sizeof name[0])) {
        CopyUtf8(name, info->name, sizeof info->name);
        TakeName(info->name, info->name, sizeof info->name);
    }
    if (info->vendorId != vendorId) {
        SetProblem(info, "vendor ID 0x%04X is not 0x%04X", info->vendorId, vendorId);
        return;
    }
    info->ours = true;
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    HIDP_CAPS caps{};
    if (api.HidD_GetPreparsedData(handle, &preparsed) && preparsed != nullptr) {
        const NTSTATUS status = api.HidP_GetCaps(preparsed, &caps);
        api.HidD_FreePreparsedData(preparsed);
        if (status == HIDP_STATUS_SUCCESS) {
            info->featureReportLength = caps.FeatureReportByteLength;
        } else {
            SetProblem(info, "its capabilities cannot be read");
        }
    } else {
        SetProblem(info, "its capabilities cannot be read");
    }
    if (!ReadLogicalMaxima(handle, &info->logicalMaxX, &info->logicalMaxY)) {
        info->logicalMaxX = 0x7FFF;
        info->logicalMaxY = 0x7FFF;
    }
}

}  // namespace

int ListHidInterfaces(std::uint16_t vendorId, HidInterfaceInfo* interfaces, int capacity) {
    const HidApi* api = LoadHidApi();
    if (api == nullptr) return -1;
    GUID hidGuid;
    api->HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = api->SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr,
                                              DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return -1;
    int count = 0;
    for (DWORD member = 0;; ++member) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof(interfaceData);
        if (!api->SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, member, &interfaceData)) {
            break;
        }
        if (interfaces == nullptr || count >= capacity) {
            ++count;  // counted only: the caller's array is full
            continue;
        }
        HidInterfaceInfo* info = &interfaces[count++];
        std::memset(info, 0, sizeof *info);
        HANDLE handle = OpenInterface(*api, set, &interfaceData, info);
        if (handle != INVALID_HANDLE_VALUE) {
            Query(*api, handle, vendorId, info);
            CloseHandle(handle);
        }
    }
    api->SetupDiDestroyDeviceInfoList(set);
    return count;
}

namespace {

constexpr int kDeniedPathMax = 1024;

bool WidePath(const char* text, wchar_t* wide) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide, kDeniedPathMax) > 0;
}

bool ContainsIgnoringCase(const char* text, const char* part) {
    const std::size_t length = std::strlen(part);
    for (; *text != '\0'; ++text) {
        std::size_t k = 0;
        while (k < length && text[k] != '\0' &&
               (text[k] == part[k] || (text[k] >= 'A' && text[k] <= 'Z' && text[k] + 32 == part[k]))) {
            ++k;
        }
        if (k == length) return true;
    }
    return false;
}

// Windows gives each top-level collection of a device an interface of its
// own ("...&col01#...", "...&col02#..."), and keeps the collections it reads
// itself (a controller's touch screen) from every program. Such a collection
// beside one of the same vendor and product that opened is no controller
// this account is shut out of.
bool SystemCollectionBesideAnOpenedOne(const HidInterfaceInfo* interfaces, int count,
                                       const HidInterfaceInfo& denied) {
    const char* collection = std::strstr(denied.path, "&col");
    if (collection == nullptr) collection = std::strstr(denied.path, "&COL");
    if (collection == nullptr) return false;
    const std::size_t prefix = static_cast<std::size_t>(collection - denied.path);
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& other = interfaces[i];
        if (&other != &denied && other.queried && std::strlen(other.path) > prefix + 4 &&
            _strnicmp(other.path, denied.path, prefix + 4) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

// A HID device path names the vendor as "vid_VVVV": an interface of our
// vendor ID that answers "access denied" is a controller held by another
// program or shut off from this account.
bool DescribeDeniedAccess(const HidInterfaceInfo* interfaces, int count, std::uint16_t vendorId,
                     char* why, std::size_t whySize) {
    char vid[16];
    std::snprintf(vid, sizeof vid, "vid_%04x", vendorId);
    for (int i = 0; i < count; ++i) {
        const HidInterfaceInfo& info = interfaces[i];
        wchar_t path[kDeniedPathMax];
        if (info.queried || !ContainsIgnoringCase(info.path, vid) ||
            SystemCollectionBesideAnOpenedOne(interfaces, count, info) || !WidePath(info.path, path)) {
            continue;
        }
        HANDLE handle = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            continue;
        }
        if (GetLastError() != ERROR_ACCESS_DENIED) continue;
        std::snprintf(why, whySize,
                      "%s: access denied; another program may hold the controller open (close "
                      "it), or this account may not use it",
                      info.path);
        return true;
    }
    return false;
}
