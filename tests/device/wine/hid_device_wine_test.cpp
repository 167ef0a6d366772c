// The device code of the program (opening, logical maxima, transfers and the
// protocol on top) through the real Windows path: hid.dll and setupapi.dll
// loaded from the system directory, which under Wine holds the virtual
// controller's replacements.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/session_state.h"
#include "device/controller_protocol.h"
#include "device/hid_api_win32.h"
#include "device/hid_device.h"
#include "tests/device/wine/vc_wine_support.h"
#include "tools/virtual-controller/virtual_controller.h"

// This program's allocator for the device layer, replacing the product's at
// link time so allocation failures can be staged.
namespace {
bool gFailAllocations = false;
}
void* DeviceAllocate(std::size_t size) {
    return gFailAllocations || size == 0 ? nullptr : std::calloc(1, size);
}
void DeviceRelease(void* memory) {
    std::free(memory);
}

namespace {

const std::uint16_t kVendor = static_cast<std::uint16_t>(KELCALIB_VENDOR_ID);
const char* const kWineDevices = "other-device 0x845E 0x0001\nother-device 0x845E 0x0002\n";

std::string Controller(const std::string& settings = "") {
    char vendor[32];
    std::snprintf(vendor, sizeof vendor, "0x%04X", kVendor);
    return std::string("controller\nvendor-id ") + vendor + "\n" + settings + "\n";
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char two[4];
    for (const std::uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, " %02x", byte);
        text += two;
    }
    return text;
}

const std::vector<std::uint8_t> kIdentityX = {0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0,
                                              0,    0,   0,   0, 1, 0, 0, 0, 0x0D};
const std::vector<std::uint8_t> kAcceptX = {0x01, 'C', 'x', '0', 0x0D};

class HidDeviceWine : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSession();
        gFailAllocations = false;
    }
    void TearDown() override {
        gFailAllocations = false;
        ResetSession();
    }
};

TEST_F(HidDeviceWine, DllsComeFromTheSystemDirectoryWithAllEntryPoints) {
    ASSERT_NE(LoadHidApi(), nullptr);
    EXPECT_EQ(LoadHidApi(), LoadHidApi()) << "loaded once";
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    for (const wchar_t* dll : {L"\\hid.dll", L"\\setupapi.dll"}) {
        wchar_t loaded[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(dll + 1), loaded, MAX_PATH), 0u);
        EXPECT_EQ(_wcsicmp(loaded, (std::wstring(system) + dll).c_str()), 0);
    }
}

TEST_F(HidDeviceWine, NoHidInterfacesMeansNoController) {
    VcScenario scenario("");
    ASSERT_TRUE(scenario.ok());
    EXPECT_FALSE(OpenTouchDevice(kVendor, 0));
    EXPECT_EQ(gSession.device, nullptr);
    EXPECT_EQ(gSession.featureReportLength, 0);
    const GUID hid = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    EXPECT_TRUE(IsEqualGUID(gSession.hidGuid, hid)) << "the GUID is written even without a device";
    EXPECT_EQ(scenario.OpenDeviceFiles(), 0);
    EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
}

TEST_F(HidDeviceWine, WinesOwnDevicesAreSkippedAndClosed) {
    VcScenario scenario(kWineDevices);
    ASSERT_TRUE(scenario.ok());
    EXPECT_FALSE(OpenTouchDevice(kVendor, 0));
    EXPECT_EQ(gSession.device, nullptr);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 0) << "every non-matching device is closed again";
    EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
    EXPECT_EQ(VcLivePreparsedData(), 0);
}

TEST_F(HidDeviceWine, OpensTheControllerAmongWinesDevices) {
    VcScenario scenario(std::string(kWineDevices) + Controller("report-length 64"));
    ASSERT_TRUE(scenario.ok());
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_NE(gSession.device, nullptr);
    EXPECT_NE(gSession.device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(gSession.featureReportLength, 64);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 1) << "only the controller stays open";
    EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
    EXPECT_EQ(VcLivePreparsedData(), 0);
    EXPECT_EQ(VcInvalidFrees(), 0);
}

TEST_F(HidDeviceWine, MatchIndexCountsOnlyControllersOfOurVendor) {
    // Told apart by their report lengths; Wine's devices and a foreign
    // controller sit between them.
    VcScenario scenario(std::string("other-device 0x845E 0x0001\n") + Controller("report-length 64") +
                        "controller\nvendor-id 0x1209\nreport-length 99\n" +
                        "other-device 0x845E 0x0002\n" + Controller("report-length 65"));
    ASSERT_TRUE(scenario.ok());
    ASSERT_NE(kVendor, 0x1209);

    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_EQ(gSession.featureReportLength, 64);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 1);
    ResetSession();

    ASSERT_TRUE(OpenTouchDevice(kVendor, 1));
    EXPECT_EQ(gSession.featureReportLength, 65);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 1) << "the first controller is opened and closed again";
    ResetSession();

    EXPECT_FALSE(OpenTouchDevice(kVendor, 2));
    EXPECT_EQ(gSession.device, nullptr);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 0);
    EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
}

TEST_F(HidDeviceWine, InterfacesThatRefuseTheOpenOrTheirAttributesAreSkipped) {
    // On a real machine the system's own keyboards and mice refuse the open;
    // the search goes on past them to the controller.
    for (const char* unusable : {"other-device 0x845E 0x0003 refuses-open\n",
                                 "other-device 0x845E 0x0004 no-attributes\n"}) {
        VcScenario scenario(std::string(unusable) + Controller("report-length 64"));
        ASSERT_TRUE(scenario.ok());
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << unusable;
        EXPECT_EQ(gSession.featureReportLength, 64) << unusable;
        EXPECT_EQ(scenario.OpenDeviceFiles(), 1) << "only the controller stays open: " << unusable;
        ResetSession();
    }
}

// The DevicePaths of the present HID interfaces, in enumeration order.
std::vector<std::wstring> InterfacePaths() {
    const HidApi& api = *LoadHidApi();
    GUID hid;
    api.HidD_GetHidGuid(&hid);
    HDEVINFO set = api.SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    std::vector<std::wstring> paths;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    for (DWORD i = 0; api.SetupDiEnumDeviceInterfaces(set, nullptr, &hid, i, &data); ++i) {
        DWORD required = 0;
        api.SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
        std::vector<std::uint8_t> buffer(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (api.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr)) {
            paths.push_back(detail->DevicePath);
        }
    }
    api.SetupDiDestroyDeviceInfoList(set);
    return paths;
}

TEST_F(HidDeviceWine, EachCollectionIsAnInterfaceAndTheTouchScreenRefusesTheProgramsOpen) {
    // The common layout: a touch screen collection, which the system opens
    // for itself, with X and Y, then the vendor collection with the
    // protocol's feature report and no input values.
    VcScenario scenario(Controller("value-caps 2 4095 2047"));
    ASSERT_TRUE(scenario.ok());
    const std::vector<std::wstring> paths = InterfacePaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_NE(paths[0].find(L"&col01#"), std::wstring::npos);
    EXPECT_NE(paths[1].find(L"&col02#"), std::wstring::npos);
    for (const DWORD access : {DWORD{GENERIC_WRITE}, DWORD{GENERIC_READ}, DWORD{GENERIC_READ | GENERIC_WRITE}}) {
        HANDLE touch = CreateFileW(paths[0].c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        EXPECT_EQ(touch, INVALID_HANDLE_VALUE) << "access " << access;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << "access " << access;
    }
    HANDLE vendor = CreateFileW(paths[1].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(vendor, INVALID_HANDLE_VALUE);
    const HidApi& api = *LoadHidApi();
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(api.HidD_GetPreparsedData(vendor, &preparsed));
    HIDP_CAPS caps{};
    EXPECT_EQ(api.HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0xFF00);
    EXPECT_EQ(caps.FeatureReportByteLength, 101);
    EXPECT_EQ(caps.NumberInputValueCaps, 0);
    api.HidD_FreePreparsedData(preparsed);
    CloseHandle(vendor);

    // The search passes the touch screen by and opens the vendor collection,
    // which has no X or Y: the caller falls back to 0x7FFF.
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_EQ(gSession.featureReportLength, 101);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 1);
    std::int32_t maxX = -77;
    std::int32_t maxY = -77;
    EXPECT_FALSE(ReadLogicalMaxima(gSession.device, &maxX, &maxY));
    ResetSession();
    EXPECT_FALSE(OpenTouchDevice(kVendor, 1)) << "one controller, however many collections";
    ResetSession();

    // A one-collection vendor layout: one interface, no "&col", the values
    // in it.
    VcScenario single(Controller("layout vendor\nvalue-caps 2 4095 2047"));
    ASSERT_TRUE(single.ok());
    const std::vector<std::wstring> one = InterfacePaths();
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].find(L"&col"), std::wstring::npos);
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    EXPECT_TRUE(ReadLogicalMaxima(gSession.device, &maxX, &maxY));
    EXPECT_EQ(maxX, 4095);
    EXPECT_EQ(maxY, 2047);
}

TEST_F(HidDeviceWine, OpenFailsCleanlyWithoutPreparsedDataOrCapabilities) {
    VcScenario scenario(Controller());
    ASSERT_TRUE(scenario.ok());
    for (const int failure : {1, 2}) {  // no preparsed data; no capabilities
        VcInjectFailure(failure);
        EXPECT_FALSE(OpenTouchDevice(kVendor, 0)) << "failure " << failure;
        EXPECT_EQ(gSession.device, nullptr);
        EXPECT_EQ(gSession.featureReportLength, 0);
        EXPECT_EQ(scenario.OpenDeviceFiles(), 0);
        EXPECT_EQ(VcLivePreparsedData(), 0) << "what was obtained is released";
        EXPECT_EQ(VcInvalidFrees(), 0) << "nothing that was not obtained is released";
        EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
    }
    VcInjectFailure(0);
    EXPECT_TRUE(OpenTouchDevice(kVendor, 0));
}

TEST_F(HidDeviceWine, OpenFailsCleanlyWhenTheDetailBufferCannotBeAllocated) {
    VcScenario scenario(Controller());
    ASSERT_TRUE(scenario.ok());
    gFailAllocations = true;
    EXPECT_FALSE(OpenTouchDevice(kVendor, 0));
    EXPECT_EQ(gSession.device, nullptr);
    EXPECT_EQ(scenario.OpenDeviceFiles(), 0);
    EXPECT_EQ(VcLiveDeviceInfoSets(), 0);
}

struct MaximaCase {
    const char* valueCaps;
    bool result;
    std::int32_t maxX;
    std::int32_t maxY;
};

TEST_F(HidDeviceWine, LogicalMaximaOfTheFirstTwoInputValues) {
    const MaximaCase cases[] = {
        {"value-caps 2 4095 2047", true, 4095, 2047},
        {"value-caps 1 1000", true, 1000, 0},  // the missing maximum is 0
        {"value-caps 3 100 200 300", true, 100, 200},
        {"value-caps 2 32767 -5", true, 32767, -5},  // Y is used as it is
        // A maximum X of 0 or below would map every touch to a corner or
        // far off the screen: refused, the caller uses 0x7FFF.
        {"value-caps 0", false, 0, 0},
        {"value-caps 2 0 4095", false, 0, 0},
        {"value-caps 2 -1 4095", false, 0, 0},
        {"value-caps 1 -2147483648", false, 0, 0},
    };
    for (const MaximaCase& c : cases) {
        // One vendor collection: the values are in the collection opened.
        VcScenario scenario(Controller(std::string("layout vendor\n") + c.valueCaps));
        ASSERT_TRUE(scenario.ok());
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << c.valueCaps;
        std::int32_t maxX = -77;
        std::int32_t maxY = -77;
        EXPECT_EQ(ReadLogicalMaxima(gSession.device, &maxX, &maxY), c.result) << c.valueCaps;
        EXPECT_EQ(maxX, c.result ? c.maxX : -77) << c.valueCaps;
        EXPECT_EQ(maxY, c.result ? c.maxY : -77) << c.valueCaps;
        EXPECT_EQ(VcLivePreparsedData(), 0) << c.valueCaps;
        EXPECT_EQ(VcInvalidFrees(), 0) << c.valueCaps;
    }
}

TEST_F(HidDeviceWine, LogicalMaximaUnreadableWritesNothing) {
    VcScenario scenario(Controller("layout vendor\nvalue-caps 2 4095 4095"));
    ASSERT_TRUE(scenario.ok());
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    std::int32_t maxX = -77;
    std::int32_t maxY = -77;
    struct Stage {
        const char* what;
        int failure;
        bool failAllocation;
        HANDLE handle;
    };
    const Stage stages[] = {
        {"no preparsed data", 1, false, gSession.device},
        {"value capabilities fail (entries stay zero)", 3, false, gSession.device},
        {"no memory for the value capabilities", 0, true, gSession.device},
        {"no device", 0, false, INVALID_HANDLE_VALUE},
    };
    for (const Stage& stage : stages) {
        VcInjectFailure(stage.failure);
        gFailAllocations = stage.failAllocation;
        EXPECT_FALSE(ReadLogicalMaxima(stage.handle, &maxX, &maxY)) << stage.what;
        EXPECT_EQ(maxX, -77) << stage.what;
        EXPECT_EQ(maxY, -77) << stage.what;
        EXPECT_EQ(VcLivePreparsedData(), 0) << stage.what;
        EXPECT_EQ(VcInvalidFrees(), 0) << stage.what;
    }
    VcInjectFailure(0);
    gFailAllocations = false;
    EXPECT_TRUE(ReadLogicalMaxima(gSession.device, &maxX, &maxY));
    EXPECT_EQ(maxX, 4095);
}

TEST_F(HidDeviceWine, StandInsRefuseWhatWindowsRefuses) {
    // The open above only proves the program's structures right if the
    // stand-ins are as strict as the system: a wrong size must fail here.
    VcScenario scenario(Controller("layout vendor\nreport-length 64"));
    ASSERT_TRUE(scenario.ok());
    const HidApi& api = *LoadHidApi();
    GUID hid;
    api.HidD_GetHidGuid(&hid);
    HDEVINFO set = api.SetupDiGetClassDevsW(&hid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data) + 4;
    EXPECT_FALSE(api.SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    data.cbSize = sizeof(data);
    ASSERT_TRUE(api.SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 0, &data));
    EXPECT_FALSE(api.SetupDiEnumDeviceInterfaces(set, nullptr, &hid, 1, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));

    DWORD required = 0;
    EXPECT_FALSE(api.SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::uint8_t> buffer(required);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer.data());
    detail->cbSize = 6;  // the 32-bit value is wrong in a 64-bit process
    EXPECT_FALSE(api.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_EQ(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W), sizeof(void*) == 8 ? 8u : 6u);
    EXPECT_FALSE(api.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required - 2, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    ASSERT_TRUE(api.SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr));
    HANDLE handle = CreateFileW(detail->DevicePath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(api.SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(api.SetupDiDestroyDeviceInfoList(set)) << "a destroyed set is dead";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(api.HidD_GetAttributes(handle, &attributes)) << "Size not set";
    attributes.Size = sizeof(attributes);
    ASSERT_TRUE(api.HidD_GetAttributes(handle, &attributes));
    EXPECT_EQ(attributes.VendorID, kVendor);

    std::uint8_t report[128] = {0x00, 0x01, 'R', 's', 0x0D};
    EXPECT_FALSE(api.HidD_SetFeature(handle, report, 101)) << "length is not the report length";
    EXPECT_FALSE(api.HidD_GetFeature(handle, report, 63));
    EXPECT_TRUE(api.HidD_SetFeature(handle, report, 64));
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(api.HidD_GetPreparsedData(handle, &preparsed));
    EXPECT_TRUE(api.HidD_FreePreparsedData(preparsed));
    EXPECT_FALSE(api.HidD_FreePreparsedData(preparsed)) << "freed twice";
    HIDP_CAPS caps{};
    EXPECT_EQ(api.HidP_GetCaps(preparsed, &caps), HIDP_STATUS_INVALID_PREPARSED_DATA);

    CloseHandle(handle);
    EXPECT_FALSE(api.HidD_SetFeature(handle, report, 64)) << "closed handle";
    EXPECT_FALSE(api.HidD_GetAttributes(handle, &attributes)) << "closed handle";
    VcReload();  // forget the deliberate bad free
}

// ---- transfers through the real DLL path ---------------------------------

// The fallback through the report IDs, its order and its restart at 0x55
// are the portable transfers' (tests/device/hid_transfer_test.cpp, native);
// here only what the Windows path adds: a report ID the device refuses
// fails HidD_SetFeature and HidD_GetFeature, and that failure moves the
// transfer on to the next ID, whose success ends it.
TEST_F(HidDeviceWine, AReportIdTheDeviceRefusesFailsTheTransferBothWays) {
    // Both IDs declared, the firmware answers under 0x01 only.
    VcScenario scenario(Controller("descriptor-ids 55 01\nreport-ids 01"));
    ASSERT_TRUE(scenario.ok());
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    ASSERT_TRUE(SendFeature(kIdentityX.data(), static_cast<std::int32_t>(kIdentityX.size())));
    std::uint8_t reply[8] = {};
    EXPECT_EQ(ReceiveFeature(reply, 8), 5);
    EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 5), kAcceptX);

    const std::string record = Hex(kIdentityX);
    const std::vector<std::string> expected = {
        "SET 55 refused 101 : 55" + record,
        "SET 01 ok 101 : 01" + record,  // the same payload under the next ID
        "GET 55 refused 101 : 55",
        "GET 01 ok 101 :" + Hex(kAcceptX),
    };
    EXPECT_EQ(scenario.Transfers(), expected);
}

TEST_F(HidDeviceWine, ReportIdsTheCollectionDoesNotDeclareNeverReachTheDevice) {
    // As the HID class refuses them before any I/O: without report IDs
    // every ID but 0, with them every ID the collection does not declare.
    struct Case {
        const char* settings;
        bool sent;
        std::vector<std::string> transfers;
    };
    const std::string abort = " 01 52 73 0d";
    const Case cases[] = {
        {"", true, {"SET 00 ok 101 : 00" + abort}},
        {"descriptor-ids 01", true, {"SET 01 ok 101 : 01" + abort}},
        // 0x01 is a report of another collection: not this one's either.
        {"descriptor-ids 55\nsecond-collection 01:101\nreport-ids 01", false,
         {"SET 55 refused 101 : 55" + abort}},
        {"descriptor-ids 01 66:300", true, {"SET 01 ok 101 : 01" + abort}},
    };
    for (const Case& c : cases) {
        VcScenario scenario(Controller(c.settings));
        ASSERT_TRUE(scenario.ok()) << c.settings;
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << c.settings;
        const std::uint8_t command[] = {0x01, 'R', 's', 0x0D};
        EXPECT_EQ(SendFeature(command, 4), c.sent) << c.settings;
        EXPECT_EQ(scenario.Transfers(), c.transfers) << c.settings;
    }
}

TEST_F(HidDeviceWine, EveryReportLengthIsPassedWhole) {
    for (const int length : {5, 64, 101, 102, 4096, 65535}) {
        VcScenario scenario(Controller("report-length " + std::to_string(length)));
        ASSERT_TRUE(scenario.ok());
        ASSERT_TRUE(OpenTouchDevice(kVendor, 0)) << length;
        EXPECT_EQ(gSession.featureReportLength, length);
        EXPECT_TRUE(SendAbort()) << length;
        const std::string lengthText = std::to_string(length);
        ASSERT_FALSE(scenario.Transfers().empty());
        EXPECT_EQ(scenario.Transfers()[0], "SET 00 ok " + lengthText + " : 00 01 52 73 0d");
        if (length < 21) {
            // A 20-byte record does not fit: the controller sees a cut frame.
            continue;
        }
        EXPECT_TRUE(ResetToIdentity()) << length;
        std::uint8_t reply[8] = {};
        EXPECT_EQ(ReceiveFeature(reply, 8), 5) << length;
        EXPECT_EQ(std::vector<std::uint8_t>(reply, reply + 5),
                  (std::vector<std::uint8_t>{0x01, 'C', 'y', '0', 0x0D}))
            << length;
    }
}

TEST_F(HidDeviceWine, TouchPacketsCarryThePointerThroughThePanel) {
    VcScenario scenario(Controller("panel skewed"));
    ASSERT_TRUE(scenario.ok());
    ASSERT_TRUE(OpenTouchDevice(kVendor, 0));
    VcPanelModel panel{};
    ASSERT_TRUE(VcPanelPreset("skewed", &panel));
    panel.noise = 0;
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(width, 400);
    ASSERT_GT(height, 300);
    for (const POINT target : {POINT{100, 80}, POINT{width - 50, height - 40}}) {
        ASSERT_TRUE(SetCursorPos(target.x, target.y));
        POINT at{};
        ASSERT_TRUE(GetCursorPos(&at));
        ASSERT_EQ(at.x, target.x);
        SendTargetCue();
        std::uint16_t rawX = 0;
        std::uint16_t rawY = 0;
        ASSERT_TRUE(ReadTouchPoint(&rawX, &rawY));
        std::uint16_t expectedX = 0;
        std::uint16_t expectedY = 0;
        VcPanelRaw(panel, VcTouch{target.x, target.y, width, height, true}, &expectedX, &expectedY);
        EXPECT_EQ(rawX, expectedX) << target.x << "," << target.y;
        EXPECT_EQ(rawY, expectedY) << target.x << "," << target.y;
    }
}

}  // namespace
