#include "display/display_mapping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "display/mapping_advice.h"
#include "app/target_layout.h"
#include "calib/calibration_solve.h"

namespace {

constexpr double kTolerance = 1e-9;

// Where the matrix sends the panel point (u, v): desktop fractions.
void Apply(const double m[9], double u, double v, double* x, double* y) {
    *x = m[0] * u + m[1] * v + m[2];
    *y = m[3] * u + m[4] * v + m[5];
}

TEST(TouchMatrixForDisplay, SpreadsTheRangeOverTheSecondDisplay) {
    double m[9];
    ASSERT_TRUE(TouchMatrixForDisplay(1824, 768, DisplayArea{800, 0, 1024, 768}, 0, m));
    const double want[9] = {1024.0 / 1824, 0, 800.0 / 1824, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(m[i], want[i], kTolerance) << i;
    EXPECT_FALSE(IsIdentityMatrix(m));
    ASSERT_TRUE(TouchMatrixForDisplay(1024, 768, DisplayArea{0, 0, 1024, 768}, 0, m));
    EXPECT_TRUE(IsIdentityMatrix(m)) << "one display: the whole desktop";
}

// The firmware calibrated with the solve's expected positions for an
// orientation reports each target there; the matrix for the same
// orientation must put that report on the target as the display shows it.
TEST(TouchMatrixForDisplay, PutsEachCalibratedTargetOnItsPlaceInEveryOrientation) {
    const DisplayArea area = {800, 100, 768, 1024};
    const double desktopW = 1824;
    const double desktopH = 1200;
    for (std::int32_t orientation = 0; orientation < 4; ++orientation) {
        double m[9];
        ASSERT_TRUE(TouchMatrixForDisplay(1824, 1200, area, orientation, m));
        std::int32_t expectedX[4];
        std::int32_t expectedY[4];
        ExpectedTargetPositions(32767, orientation, expectedX, expectedY);
        std::int32_t targetX[4];
        std::int32_t targetY[4];
        ASSERT_TRUE(LayoutTargets(4, area.width, area.height, targetX, targetY));
        for (int i = 0; i < 4; ++i) {
            double x = 0;
            double y = 0;
            Apply(m, expectedX[i] / 32767.0, expectedY[i] / 32767.0, &x, &y);
            EXPECT_NEAR(x * desktopW, area.x + targetX[i], 1.0) << "orientation " << orientation << " target " << i;
            EXPECT_NEAR(y * desktopH, area.y + targetY[i], 1.0) << "orientation " << orientation << " target " << i;
        }
    }
}

TEST(TouchMatrixForDisplay, RefusesEmptySizesAndWritesNothing) {
    const DisplayArea good = {0, 0, 10, 10};
    const DisplayArea empty[] = {{0, 0, 0, 10}, {0, 0, 10, -1}};
    double m[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_FALSE(TouchMatrixForDisplay(0, 10, good, 0, m));
    EXPECT_FALSE(TouchMatrixForDisplay(10, -5, good, 0, m));
    for (const DisplayArea& area : empty) EXPECT_FALSE(TouchMatrixForDisplay(10, 10, area, 0, m));
    for (double value : m) EXPECT_EQ(value, 7);
}

TEST(SizeAsShown, SwapsForAQuarterTurnOnly) {
    const struct {
        std::int32_t orientation, width, height;
    } cases[] = {{0, 300, 200}, {1, 200, 300}, {2, 300, 200}, {3, 200, 300}, {10000, 300, 200}};
    for (const auto& c : cases) {
        std::int32_t w = 0;
        std::int32_t h = 0;
        SizeAsShown(300, 200, c.orientation, &w, &h);
        EXPECT_EQ(w, c.width) << c.orientation;
        EXPECT_EQ(h, c.height) << c.orientation;
    }
    // A rotated 1024 x 768 panel of 260 x 195 mm shows 1024 rows over 260 mm.
    std::int32_t w = 0;
    std::int32_t h = 0;
    SizeAsShown(260, 195, 1, &w, &h);
    EXPECT_EQ(TargetRadiusPixels(10, 1024, h, 0), 39);
}

const MappingSubject kSubject = {0xFFFE, 0x0001, "Virtual touch controller 1", "DUMMY1",
                                 true, "pci-0000:00:14.0-usb-0:2:1.0", ""};

TEST(PersistFiles, NameOneControllerByWhereItIsAttached) {
    MappingSubject other = kSubject;
    other.place = "pci-0000:00:14.0-usb-0:3:1.0";
    PersistFiles first{};
    PersistFiles second{};
    ASSERT_TRUE(PersistFilesFor(kSubject, &first));
    ASSERT_TRUE(PersistFilesFor(other, &second));
    EXPECT_EQ(std::string(first.snippetPath).rfind("/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001-", 0), 0u)
        << first.snippetPath;
    EXPECT_EQ(std::string(first.rulePath).rfind("/etc/udev/rules.d/71-kelcalib-fffe-0001-", 0), 0u)
        << first.rulePath;
    EXPECT_STRNE(first.snippetPath, second.snippetPath);
    EXPECT_STRNE(first.rulePath, second.rulePath);
    EXPECT_STRNE(first.tag, second.tag);

    char rule[1024];
    ASSERT_TRUE(FormatUdevTagRule(kSubject, first, rule, sizeof rule));
    const std::string r = rule;
    EXPECT_EQ(r.rfind(std::string(kPersistMarker) + "\n", 0), 0u) << r;
    EXPECT_NE(r.find("ATTRS{id/vendor}==\"fffe\", ATTRS{id/product}==\"0001\", "
                     "ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:2:1.0\", "
                     "ENV{ID_INPUT.tags}=\"$env{ID_INPUT.tags}," + std::string(first.tag) + "\""),
              std::string::npos) << r;
    MappingSubject byPhys = kSubject;
    byPhys.placeByIdPath = false;
    byPhys.place = "usb-0000:00:14.0-2/input0";
    byPhys.uniq = "A1B2";
    PersistFiles physFiles{};
    ASSERT_TRUE(PersistFilesFor(byPhys, &physFiles));
    ASSERT_TRUE(FormatUdevTagRule(byPhys, physFiles, rule, sizeof rule));
    EXPECT_NE(std::string(rule).find("ATTRS{phys}==\"usb-0000:00:14.0-2/input0\", ATTRS{uniq}==\"A1B2\""),
              std::string::npos) << rule;
    // No place, or one a udev rule could not match literally: no files.
    for (const char* place : {"", "a\"b", "usb-*", "two words"}) {
        MappingSubject bad = kSubject;
        bad.place = place;
        EXPECT_FALSE(PersistFilesFor(bad, &physFiles)) << place;
    }
}

TEST(XorgSnippet, MatchesTheTagAndSetsTheMatrix) {
    PersistFiles files{};
    ASSERT_TRUE(PersistFilesFor(kSubject, &files));
    const double m[9] = {0.561404, 0, 0.438596, 0, 1, 0, 0, 0, 1};
    char text[1536];
    ASSERT_TRUE(FormatXorgSnippet(kSubject, files, m, text, sizeof text));
    const std::string s = text;
    EXPECT_EQ(s.rfind(std::string(kPersistMarker) + "\n", 0), 0u) << s;
    EXPECT_NE(s.find("Section \"InputClass\""), std::string::npos) << s;
    EXPECT_NE(s.find("MatchTag \"" + std::string(files.tag) + "\""), std::string::npos) << s;
    EXPECT_EQ(s.find("MatchUSBID"), std::string::npos) << s;
    EXPECT_NE(s.find("Option \"TransformationMatrix\" \"0.561404 0 0.438596 0 1 0 0 0 1\""),
              std::string::npos) << s;
    EXPECT_NE(s.find("EndSection\n"), std::string::npos) << s;
    // A name that is not printable text stays out of the comment.
    MappingSubject raw = kSubject;
    raw.inputName = "x\rSection \"Files\"";
    ASSERT_TRUE(FormatXorgSnippet(raw, files, m, text, sizeof text));
    EXPECT_EQ(std::string(text).find('\r'), std::string::npos) << text;
    char small[40];
    EXPECT_FALSE(FormatXorgSnippet(kSubject, files, m, small, sizeof small));
    EXPECT_EQ(std::string(small).size(), sizeof small - 1) << "cut short, terminated";
    char earlier[128];
    EarlierXorgSnippetPath(kSubject, earlier, sizeof earlier);
    EXPECT_STREQ(earlier, "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001.conf");
    EXPECT_TRUE(IsEarlierSnippetName("99-kelcalib-fffe-0001.conf"));
    EXPECT_FALSE(IsEarlierSnippetName(std::strrchr(files.snippetPath, '/') + 1));
}

TEST(DetectCompositor, FromTheSessionsEnvironment) {
    const struct {
        const char* current;
        const char* session;
        bool sway;
        bool hyprland;
        Compositor want;
    } cases[] = {
        {"GNOME", nullptr, false, false, Compositor::kGnome},
        {"ubuntu:GNOME", "ubuntu", false, false, Compositor::kGnome},
        {"KDE", nullptr, false, false, Compositor::kKde},
        {"gnome-classic:GNOME", nullptr, false, false, Compositor::kGnome},
        {nullptr, "sway", false, false, Compositor::kSway},
        {"XFCE", nullptr, true, false, Compositor::kSway},
        {nullptr, nullptr, false, true, Compositor::kHyprland},
        {"weston", nullptr, false, false, Compositor::kWeston},
        {"GNOMEISH", nullptr, false, false, Compositor::kUnknown},
        {"XFCE", "xfce", false, false, Compositor::kUnknown},
        {"", nullptr, false, false, Compositor::kUnknown},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DetectCompositor(c.current, c.session, c.sway, c.hyprland), c.want)
            << (c.current ? c.current : "(null)") << " / " << (c.session ? c.session : "(null)");
    }
}

TEST(CompositorStep, NamesTheDeviceAsTheCompositorDoesAndTheOutput) {
    const struct {
        Compositor compositor;
        const char* mustHold;
    } cases[] = {
        {Compositor::kSway, "swaymsg input \"65534:1:Virtual_touch_controller_1\" map_to_output \"DUMMY1\""},
        {Compositor::kHyprland, "name = virtual-touch-controller-1\n    output = DUMMY1"},
        {Compositor::kGnome, "touchscreens/fffe:0001/ output"},
        {Compositor::kKde, "\"Virtual touch controller 1\" and set its\ntarget display to DUMMY1"},
        {Compositor::kWeston, "ATTRS{id/vendor}==\"fffe\", ATTRS{id/product}==\"0001\", ENV{WL_OUTPUT}=\"DUMMY1\""},
        {Compositor::kUnknown, "ENV{WL_OUTPUT}=\"DUMMY1\""},
    };
    for (const auto& c : cases) {
        char text[1024];
        EXPECT_TRUE(FormatCompositorStep(c.compositor, kSubject, text, sizeof text));
        EXPECT_NE(std::string(text).find(c.mustHold), std::string::npos) << text;
    }
    // An output name each syntax must quote, or cannot hold, and none.
    const struct {
        Compositor compositor;
        const char* output;
        const char* mustHold;
    } quoted[] = {
        {Compositor::kSway, "Dell \"U2\" 1", "map_to_output \"Dell \\\"U2\\\" 1\"\n"},
        {Compositor::kWeston, "Dell \"U2\" 1", "ENV{WL_OUTPUT}=\"OUTPUT\""},
        {Compositor::kHyprland, "a b", "output = OUTPUT\n"},
        {Compositor::kSway, "", "map_to_output \"OUTPUT\""},
    };
    for (const auto& c : quoted) {
        MappingSubject subject = kSubject;
        subject.outputName = c.output;
        char text[1024];
        EXPECT_TRUE(FormatCompositorStep(c.compositor, subject, text, sizeof text));
        EXPECT_NE(std::string(text).find(c.mustHold), std::string::npos) << text;
    }
}

}  // namespace
