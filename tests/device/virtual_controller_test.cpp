// The virtual controller's model on its own: the config parser and its
// errors, the panel model, the firmware's coefficient arithmetic, the
// enumeration facts, transfer checks, the store and the log file.
#include "tools/virtual-controller/virtual_controller.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

VcConfig Parse(const std::string& text) {
    VcConfig config;
    std::string error;
    EXPECT_TRUE(VcParseConfig(text, &config, &error)) << error;
    return config;
}

std::string ParseError(const std::string& text) {
    VcConfig config;
    std::string error;
    EXPECT_FALSE(VcParseConfig(text, &config, &error)) << text;
    return error;
}

TEST(VcConfig, ParsesEverySetting) {
    const VcConfig config = Parse(
        "# a comment\n"
        "log-file /tmp/some dir/vc.log  \n"
        "other-device 0x845E 0x0001\n"
        "controller\n"
        "vendor-id 0x1234   # trailing comment\n"
        "product-id 77\n"
        "version 0x0200\n"
        "report-length 64\n"
        "report-ids 01 0x00\n"
        "value-caps 3 4095 -1 0\n"
        "panel affine 0.5 0 0.25 0 0.5 0.25\n"
        "noise 20\n"
        "seed 9\n"
        "store /tmp/store.txt\n"
        "fault reject 3\n"
        "fault gone-after 12\n"
        "fault slow 40\n"
        "fault no-cr\n"
        "layout vendor\n"
        "controller\n");
    EXPECT_EQ(config.logPath, "/tmp/some dir/vc.log");
    ASSERT_EQ(config.controllers.size(), 2u);
    ASSERT_EQ(config.devices.size(), 3u);
    EXPECT_FALSE(config.devices[0].isController);
    EXPECT_TRUE(config.devices[1].isController);
    EXPECT_EQ(config.others[0].vendorId, 0x845E);
    const VcControllerConfig& c = config.controllers[0];
    EXPECT_EQ(c.vendorId, 0x1234);
    EXPECT_EQ(c.productId, 77);
    EXPECT_EQ(c.versionNumber, 0x0200);
    EXPECT_EQ(c.featureReportLength, 64);
    EXPECT_FALSE(c.acceptsReportId[0]);
    EXPECT_TRUE(c.acceptsReportId[1]);
    EXPECT_TRUE(c.acceptsReportId[2]);
    EXPECT_EQ(c.valueCapCount, 3);
    EXPECT_EQ(c.logicalMax[0], 4095);
    EXPECT_EQ(c.logicalMax[1], -1);
    EXPECT_EQ(c.panel.preset, "affine");
    EXPECT_EQ(c.panel.c, 0.25);
    EXPECT_EQ(c.panel.noise, 20);
    EXPECT_EQ(c.seed, 9u);
    EXPECT_EQ(c.storePath, "/tmp/store.txt");
    EXPECT_EQ(c.faults.rejectNext, 3);
    EXPECT_EQ(c.faults.goneAfter, 12);
    EXPECT_EQ(c.faults.slowMs, 40u);
    EXPECT_TRUE(c.faults.noCr);
    EXPECT_FALSE(c.faults.silent);
    EXPECT_EQ(c.layout, VcLayout::kVendor);
    // The second controller keeps the defaults.
    const VcControllerConfig& d = config.controllers[1];
    EXPECT_EQ(d.vendorId, 0xFFFE);
    EXPECT_EQ(d.featureReportLength, 101);
    EXPECT_EQ(d.valueCapCount, 2);
    EXPECT_EQ(d.logicalMax[0], 0x7FFF);
    EXPECT_EQ(d.faults.goneAfter, -1);
    EXPECT_EQ(d.layout, VcLayout::kTouchAndVendor);
}

TEST(VcConfig, BadLinesAreNamed) {
    EXPECT_EQ(ParseError("controller\n\nreport-lenght 64\n"), "line 3: unknown key 'report-lenght'");
    EXPECT_EQ(ParseError("vendor-id 0x1234\n"), "line 1: 'vendor-id' comes before any 'controller' line");
    EXPECT_EQ(ParseError("controller\nvendor-id 0x10000\n"), "line 2: 'vendor-id' needs one number 0..0xFFFF");
    EXPECT_EQ(ParseError("controller\nreport-length 12ab\n"), "line 2: 'report-length' needs one number 0..65535");
    EXPECT_EQ(ParseError("controller\nreport-ids 55 02\n"),
              "line 2: 'report-ids' takes report IDs among 55, 01 and 00, not '02'");
    EXPECT_EQ(ParseError("controller\nvalue-caps 2 100\n"),
              "line 2: 'value-caps' needs a count 0..3 followed by that many logical maxima");
    EXPECT_NE(ParseError("controller\npanel wobbly\n").find("unknown panel preset 'wobbly'"), std::string::npos);
    EXPECT_NE(ParseError("controller\nfault flaky\n").find("line 2: unknown fault"), std::string::npos);
    EXPECT_NE(ParseError("controller\nfault reject\n").find("unknown fault"), std::string::npos);
    EXPECT_NE(ParseError("controller\nfault silent 3\n").find("unknown fault"), std::string::npos);
    EXPECT_EQ(ParseError("controller 1\n"), "line 1: 'controller' takes no value");
    EXPECT_EQ(ParseError("controller\ncontroller\ncontroller\ncontroller\ncontroller\n"),
              "line 5: at most 4 controllers");
    EXPECT_EQ(ParseError("other-device 0x845E\n"),
              "line 1: 'other-device' needs a vendor ID and a product ID (0..0xFFFF)");
    EXPECT_EQ(ParseError("other-device 0x845E 1 sideways\n"),
              "line 1: 'other-device' takes 'refuses-open' or 'no-attributes' after the IDs, not 'sideways'");
    EXPECT_EQ(ParseError("controller\nreport-bytes 01 zz\n"), "line 2: 'report-bytes' takes hexadecimal bytes, not 'zz'");
    EXPECT_EQ(ParseError("controller\nlayout touch\n"), "line 2: 'layout' needs 'touch-and-vendor' or 'vendor'");
}

TEST(VcConfig, MissingFileIsAnError) {
    VcConfig config;
    std::string error;
    EXPECT_FALSE(VcLoadConfigFile("/nonexistent/kelcalib-vc.conf", &config, &error));
    EXPECT_EQ(error, "/nonexistent/kelcalib-vc.conf: cannot be opened");
}

TEST(VcPanel, PresetsMapTheScreenAsDocumented) {
    struct Case {
        const char* preset;
        int x, y;  // on a 1000 x 500 screen
        std::uint16_t rawX, rawY;
    };
    const Case cases[] = {
        {"straight", 250, 125, 16384, 16384}, {"straight", 1000, 500, 65535, 65535},
        {"mirrored", 0, 500, 65535, 65535},   {"mirrored", 1000, 0, 0, 0},
        {"swapped", 250, 375, 49151, 16384},  {"scaled", 0, 0, 13107, 9830},
        {"offset", 1000, 0, 65535, 0},        {"offset", 0, 500, 4587, 62258},
        {"rotated", 500, 250, 32768, 32768},  {"skewed", 0, 0, 2621, 3277},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.preset) + " " + std::to_string(c.x) + "," + std::to_string(c.y));
        VcPanelModel panel;
        ASSERT_TRUE(VcPanelPreset(c.preset, &panel));
        std::uint16_t rawX = 0;
        std::uint16_t rawY = 0;
        VcPanelRaw(panel, VcTouch{c.x, c.y, 1000, 500, true}, &rawX, &rawY);
        EXPECT_EQ(rawX, c.rawX);
        EXPECT_EQ(rawY, c.rawY);
    }
    VcPanelModel panel;
    EXPECT_FALSE(VcPanelPreset("wobbly", &panel));
}

TEST(VcFirmware, AppliesCoefficientsIn64Bits) {
    // The largest factors on the largest raw values overflow 32 bits.
    const VcAxisCoefficients wide{2147483647, 2147483647, -5, 65536};
    EXPECT_EQ(VcApplyAxis(wide, 65535, 65535), 2147483647LL * 65535 * 2 / 65536 - 5);
    // Truncation toward zero, as firmware's signed division.
    EXPECT_EQ(VcApplyAxis(VcAxisCoefficients{-1, 0, 0, 2}, 3, 0), -1);
    EXPECT_EQ(VcApplyAxis(VcAxisCoefficients{-2124, 0, 32767, 2123}, 26214, 0), 6541);
    EXPECT_EQ(VcApplyAxis(VcAxisCoefficients{0, 1, 0, 1}, 5, 9), 9);
}

void Transfer(VcSystem* system, const std::vector<std::uint8_t>& command) {
    std::vector<std::uint8_t> report(101, 0);
    report[0] = 0x55;
    std::copy(command.begin(), command.end(), report.begin() + 1);
    ASSERT_EQ(VcSetFeature(system, 0, report.data(), 101), VcResult::kOk);
}

TEST(VcFirmware, CalibrationCorrectsAMirroredPanel) {
    VcSystem system;
    VcReset(&system, Parse("controller\npanel mirrored\n"));
    const VcTouch touch{256, 600, 1024, 768, true};
    VcLanding landing;
    ASSERT_TRUE(VcWhereTouchLands(system, 0, touch, &landing));
    EXPECT_EQ(landing.deviceX, 49151) << "identity: device units are the raw position";
    // device X = (32767 * (65535 - raw)) / 65535 written as a record:
    // factor -1 over divisor 2 of raw x, offset 32767.
    Transfer(&system, {0x01, 'C', 'x', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0xFF, 0x7F, 0, 0, 2, 0, 0, 0, 0x0D});
    Transfer(&system, {0x01, 'C', 'y', 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0x0D});
    ASSERT_TRUE(VcWhereTouchLands(system, 0, touch, &landing));
    EXPECT_NEAR(landing.screenX, 256, 1.0);
    EXPECT_NEAR(landing.screenY, 600, 1.0);
}

TEST(VcFirmware, RepliesPerReportIdLayout) {
    VcSystem system;
    VcReset(&system, Parse("controller\n"));
    Transfer(&system, {0x01, 'C', 'S', 0x0D});
    const VcTouch touch{0, 0, 1, 1, true};
    std::vector<std::uint8_t> report(101, 0xAA);
    report[0] = 0x00;
    ASSERT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kOk);
    EXPECT_EQ(std::vector<std::uint8_t>(report.begin(), report.begin() + 7),
              (std::vector<std::uint8_t>{0x00, 0x01, 'C', 'S', '0', 0x0D, 0}));
    EXPECT_EQ(report[100], 0) << "the rest of the report is zeros";
    report[0] = 0x01;
    ASSERT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kOk);
    EXPECT_EQ(std::vector<std::uint8_t>(report.begin(), report.begin() + 6),
              (std::vector<std::uint8_t>{0x01, 'C', 'S', '0', 0x0D, 0}));
}

TEST(VcFirmware, TransferChecksAndGone) {
    VcSystem system;
    VcReset(&system, Parse("controller\nreport-ids 01\nfault slow 30\n"));
    std::vector<std::uint8_t> report(101, 0);
    const VcTouch touch{0, 0, 1, 1, true};
    report[0] = 0x55;
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kRefused);
    report[0] = 0x01;
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 100, touch), VcResult::kBadLength);
    std::vector<std::uint8_t> longer(102, 0);
    longer[0] = 0x01;
    EXPECT_EQ(VcSetFeature(&system, 0, longer.data(), 102), VcResult::kBadLength);
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kOk);
    EXPECT_EQ(VcTransferDelayMs(system, 0), 30u);
    VcSetGone(&system, 0, true);
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kGone);
    EXPECT_EQ(VcSetFeature(&system, 1, report.data(), 101), VcResult::kGone) << "no such controller";
    VcSetGone(&system, 0, false);
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kOk);
}

TEST(VcFirmware, WcNeedsCsAndRsDropsIt) {
    VcSystem system;
    VcReset(&system, Parse("controller\n"));
    Transfer(&system, {0x01, 'W', 'C', 0x0D});
    Transfer(&system, {0x01, 'C', 'S', 0x0D});
    Transfer(&system, {0x01, 'R', 's', 0x0D});
    Transfer(&system, {0x01, 'W', 'C', 0x0D});
    Transfer(&system, {0x01, 'C', 'S', 0x0D});
    Transfer(&system, {0x01, 'W', 'C', 0x0D});
    std::vector<std::string> events;
    for (const VcLogEntry& entry : system.log) {
        if (entry.kind == VcLogKind::kEvent) events.push_back(entry.text);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"WC reject (no CS before it)", "CS accept",
                                                 "Rs restore 1 0 0 1 / 0 1 0 1",
                                                 "WC reject (no CS before it)", "CS accept",
                                                 "WC accept committed 1 0 0 1 / 0 1 0 1"}));
    EXPECT_EQ(system.controllers[0].commits, 1);
}

std::vector<std::string> Events(const VcSystem& system) {
    std::vector<std::string> events;
    for (const VcLogEntry& entry : system.log) {
        if (entry.kind == VcLogKind::kEvent) events.push_back(entry.text);
    }
    return events;
}

TEST(VcFirmware, LateFaultsWaitForTheirPointOfTheSession) {
    const std::vector<std::uint8_t> cue = {0x01, 'Q', 0x87, 0x0D};
    const std::vector<std::uint8_t> cs = {0x01, 'C', 'S', 0x0D};
    VcSystem system;
    VcReset(&system, Parse("controller\nfault reject 2 after-cues 2\nfault gone-after 3 after-accepts 3\n"));
    Transfer(&system, cs);
    Transfer(&system, cue);
    Transfer(&system, cs);
    Transfer(&system, cue);  // the reject count starts here
    Transfer(&system, cs);
    Transfer(&system, cs);
    Transfer(&system, cs);  // third accept: three more transfers, then gone
    EXPECT_EQ(Events(system), (std::vector<std::string>{"CS accept", "Q cue", "CS accept", "Q cue",
                                                         "CS reject (fault)", "CS reject (fault)",
                                                         "CS accept"}));
    std::vector<std::uint8_t> report(101, 0);
    report[0] = 0x55;
    const VcTouch touch{0, 0, 1, 1, true};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kOk) << i;
    }
    EXPECT_EQ(VcGetFeature(&system, 0, report.data(), 101, touch), VcResult::kGone);

    // A silent controller ignores cues, so a later cue count is never reached.
    VcReset(&system, Parse("controller\nfault silent after-cues 1\nfault garbage after-cues 2\n"));
    Transfer(&system, cue);
    Transfer(&system, cue);
    Transfer(&system, cs);
    EXPECT_EQ(Events(system), (std::vector<std::string>{"Q cue", "ignored (silent)", "ignored (silent)"}));
    EXPECT_FALSE(system.controllers[0].config.faults.garbage);

    EXPECT_EQ(ParseError("controller\nfault silent after-cues x\n"),
              "line 2: 'after-cues' takes a count, not 'x'");
    EXPECT_NE(ParseError("controller\nfault silent 3 after-accepts 1\n").find("unknown fault"),
              std::string::npos);
}

TEST(VcEnumeration, DevicesInConfigOrderWithTheirHidFacts) {
    VcSystem system;
    VcReset(&system, Parse("controller\nvalue-caps 1 4095\nother-device 0x845E 2\ncontroller\nvalue-caps 0\n"));
    ASSERT_EQ(VcDeviceCount(system), 3);
    VcDeviceInfo info;
    ASSERT_TRUE(VcGetDeviceInfo(system, 0, &info));
    EXPECT_TRUE(info.isController);
    EXPECT_EQ(info.controllerIndex, 0);
    EXPECT_EQ(info.vendorId, 0xFFFE);
    EXPECT_EQ(info.featureReportLength, 101);
    EXPECT_EQ(info.valueCapCount, 1);
    EXPECT_EQ(info.logicalMax[0], 4095);
    ASSERT_TRUE(VcGetDeviceInfo(system, 1, &info));
    EXPECT_FALSE(info.isController);
    EXPECT_EQ(info.controllerIndex, -1);
    EXPECT_EQ(info.vendorId, 0x845E);
    EXPECT_EQ(info.productId, 2);
    ASSERT_TRUE(VcGetDeviceInfo(system, 2, &info));
    EXPECT_EQ(info.controllerIndex, 1);
    EXPECT_EQ(info.valueCapCount, 0);
    EXPECT_FALSE(VcGetDeviceInfo(system, 3, &info));
}

TEST(VcStore, RoundTripsAndRejectsBadText) {
    VcCoefficients c = VcIdentityCoefficients();
    c.axis[0] = VcAxisCoefficients{-2124, 0, 32767, 2123};
    VcCoefficients back;
    ASSERT_TRUE(VcParseStore(VcFormatStore(c), &back));
    EXPECT_EQ(back.axis[0].factorX, -2124);
    EXPECT_EQ(back.axis[0].divisor, 2123);
    EXPECT_EQ(back.axis[1].factorY, 1);
    EXPECT_FALSE(VcParseStore("x 1 0 0 1\n", &back)) << "both axes needed";
    EXPECT_FALSE(VcParseStore("x 1 0 0 0\ny 0 1 0 1\n", &back)) << "divisor 0";
    EXPECT_FALSE(VcParseStore("x 1 0 0 1\ny 0 1 zero 1\n", &back));
}

TEST(VcLog, FileGetsOneLinePerEntry) {
    const std::string path = ::testing::TempDir() + "kelcalib_vc_log_test.log";
    std::remove(path.c_str());
    VcSystem system;
    VcReset(&system, Parse("log-file " + path + "\ncontroller\nreport-ids 01\n"));
    std::vector<std::uint8_t> report(101, 0);
    const std::uint8_t record[21] = {0x55, 0x01, 'C', 'x', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x0D};
    std::copy(record, record + 21, report.begin());
    EXPECT_EQ(VcSetFeature(&system, 0, report.data(), 101), VcResult::kRefused);
    report[0] = 0x01;
    EXPECT_EQ(VcSetFeature(&system, 0, report.data(), 101), VcResult::kOk);
    std::vector<std::uint8_t> reply(101, 0);
    reply[0] = 0x01;
    EXPECT_EQ(VcGetFeature(&system, 0, reply.data(), 101, VcTouch{0, 0, 1, 1, true}), VcResult::kOk);

    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(text.str(),
              "0 0 SET 55 refused 101 : 55 01 43 78 01 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 0d\n"
              "1 0 SET 01 ok 101 : 01 01 43 78 01 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 0d\n"
              "2 0 EVENT Cx accept 1 0 0 1\n"
              "3 0 GET 01 ok 101 : 01 43 78 30 0d\n");
    EXPECT_EQ(system.log.size(), 4u);
    file.close();
    std::remove(path.c_str());
}

}  // namespace
