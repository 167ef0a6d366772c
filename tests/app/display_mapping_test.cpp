#include "app/display_mapping.h"

#include <gtest/gtest.h>

#include <string>

#include "app/mapping_advice.h"
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

const MappingSubject kSubject = {0xFFFE, 0x0001, "Virtual touch controller 1", "DUMMY1"};

TEST(XorgSnippet, MatchesTheControllerAndSetsTheMatrix) {
    char path[128];
    XorgSnippetPath(kSubject, path, sizeof path);
    EXPECT_STREQ(path, "/etc/X11/xorg.conf.d/99-kelcalib-fffe-0001.conf");
    const double m[9] = {0.561404, 0, 0.438596, 0, 1, 0, 0, 0, 1};
    char text[1024];
    ASSERT_TRUE(FormatXorgSnippet(kSubject, m, text, sizeof text));
    const std::string s = text;
    EXPECT_NE(s.find("Section \"InputClass\""), std::string::npos) << s;
    EXPECT_NE(s.find("MatchUSBID \"fffe:0001\""), std::string::npos) << s;
    EXPECT_NE(s.find("Option \"TransformationMatrix\" \"0.561404 0 0.438596 0 1 0 0 0 1\""),
              std::string::npos) << s;
    EXPECT_NE(s.find("EndSection\n"), std::string::npos) << s;
    char small[40];
    EXPECT_FALSE(FormatXorgSnippet(kSubject, m, small, sizeof small));
    EXPECT_EQ(std::string(small).size(), sizeof small - 1) << "cut short, terminated";
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
        {Compositor::kSway, "swaymsg input \"65534:1:Virtual_touch_controller_1\" map_to_output DUMMY1"},
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
}

}  // namespace
