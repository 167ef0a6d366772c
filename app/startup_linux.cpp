// The Linux program from its arguments to its exit code: the options, one
// copy only, SDL, the full-screen calibration window on the chosen display
// (a borderless window at the display's bounds, the software renderer, the
// fonts, and the target layout, radius and rotation for that display), the
// session.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>
#include <cstring>

#include "app/calibration_window_linux.h"
#include "app/identify_linux.h"
#include "app/options_linux.h"
#include "app/session_events_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/single_instance_linux.h"
#include "app/target_layout.h"
#include "display/display_facts_linux.h"
#include "display/display_system_linux.h"

#ifndef KELCALIB_FONT_PATH
#define KELCALIB_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace {

constexpr char kNoDisplay[] = "no display: set DISPLAY or WAYLAND_DISPLAY, or run on the console";

// The target screen's lines in a font of Windows' system font height; the
// questions and messages larger, for a finger and an eye at arm's length.
constexpr int kScreenFontPixels = 13;

bool Fail(char* error, int capacity, const char* what) {
    std::snprintf(error, static_cast<std::size_t>(capacity), "%s: %s", what, SDL_GetError());
    return false;
}

// The targets' radius in pixels on a display of `heightPixels` rows with
// these facts: gSession.targetRadiusMm over its height as shown, or the
// fallback of TargetRadiusPixels where no size is known.
std::int32_t TargetRadiusOn(const DisplayFacts& facts, std::int32_t heightPixels) {
    return TargetRadiusPixels(gSession.targetRadiusMm, heightPixels, facts.heightMm, 0);
}

int ListDisplays() {
    const int count = SDL_GetNumVideoDisplays();
    if (count < 1) {
        std::fprintf(stderr, "kelcalib: no display: %s\n", SDL_GetError());
        return kExitCannotStart;
    }
    // The physical size and rotation the program takes, and the radius of
    // the targets that follows from them.
    for (int i = 0; i < count; ++i) {
        SDL_Rect b = {0, 0, 0, 0};
        SDL_GetDisplayBounds(i, &b);
        DisplayFacts facts;
        ReadDisplayFacts(nullptr, i, DisplayArea{b.x, b.y, b.w, b.h}, &facts);
        char size[64];
        DescribeDisplayFacts(facts, size, sizeof size);
        std::printf("%d: %dx%d at %d,%d%s  %s  (%s; targets %d px)\n", i, b.w, b.h, b.x, b.y,
                    i == 0 ? " (primary)" : "", facts.name, size,
                    static_cast<int>(TargetRadiusOn(facts, b.h)));
    }
    return 0;
}

int Run(const KelcalibOptions& options) {
    if (options.listDisplays) return ListDisplays();
    if (options.identify) return RunIdentify(KELCALIB_FONT_PATH, options.json);
    const int count = SDL_GetNumVideoDisplays();
    if (options.display >= count) {
        std::fprintf(stderr, "kelcalib: no display %d; this system has %d (see kelcalib --list-displays)\n",
                     options.display, count);
        return kExitBadOption;
    }
    char error[512] = "";
    if (!OpenCalibrationScreen(options.display, KELCALIB_FONT_PATH, error, sizeof(error))) {
        std::fprintf(stderr, "kelcalib: %s: %s\n", kInitFailedUtf8, error);
        return kExitCannotStart;
    }
    return RunCalibrationSession(options.controller, options.persist);
}

}  // namespace

LinuxScreen gScreen = {};

DisplayArea ScreenArea() {
    const RECT& r = gSession.screenRect;
    return DisplayArea{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

int RunKelcalib(int argc, char** argv) {
    KelcalibOptions options;
    const int parsed = ParseKelcalibOptions(argc, argv, &options);
    if (parsed >= 0) return parsed;

    char error[600] = "";
    if (!options.listDisplays) {
        const LockResult lock = TakeSingleInstanceLock(error, sizeof(error));
        if (lock == LockResult::kHeldElsewhere) {
            std::fprintf(stderr, "kelcalib: another copy is already running\n");
            return kExitCannotStart;
        }
        if (lock == LockResult::kFailed) {
            std::fprintf(stderr, "kelcalib: %s; going on without the one-copy check\n", error);
        }
    }
    if (!ChooseDisplaySystem(error, sizeof(error))) {
        std::fprintf(stderr, "kelcalib: %s\n", error);
        return kExitCannotStart;
    }
    gSession = InitialSessionState();
    gSession.vendorId = options.vendorId;
    gSession.misclickPx = options.misclickPx;
    // Closing the window is a close request the session answers (abort
    // command first), not an immediate quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // Signals, a lost X server: from here on each ends a session through
    // its abort step.
    CatchLeaveSignals();
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "kelcalib: %s (%s)\n", kNoDisplay, SDL_GetError());
        SDL_Quit();
        return kExitCannotStart;
    }
    // Checked before any controller is opened.
    if (SdlDisplaySystem() == DisplaySystem::kNone) {
        std::fprintf(stderr, "kelcalib: %s\n", kNoDisplay);
        SDL_Quit();
        return kExitCannotStart;
    }
    if (TTF_Init() != 0) {
        std::fprintf(stderr, "kelcalib: %s: %s\n", kInitFailedUtf8, SDL_GetError());
        SDL_Quit();
        return kExitCannotStart;
    }
    CatchLostDisplay();
    const int code = Run(options);
    CloseCalibrationScreen();
    TTF_Quit();
    SDL_Quit();
    return code;
}

bool OpenCalibrationScreen(int display, const char* fontPath, char* error, int capacity) {
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(display, &bounds) != 0) {
        return Fail(error, capacity, "cannot read the display's bounds");
    }
    gSession.screenRect = RECT{bounds.x, bounds.y, bounds.x + bounds.w, bounds.y + bounds.h};
    gScreen.width = bounds.w;
    gScreen.height = bounds.h;
    gScreen.display = display;
    LayoutTargets(kTargetCount, bounds.w, bounds.h, gSession.targetX, gSession.targetY);

    gScreen.screenFont = TTF_OpenFont(fontPath, kScreenFontPixels);
    gScreen.boxFont = TTF_OpenFont(fontPath, bounds.h >= 600 ? bounds.h / 28 : 20);
    if (gScreen.screenFont == nullptr || gScreen.boxFont == nullptr) {
        std::snprintf(error, static_cast<std::size_t>(capacity), "cannot open the font %s: %s",
                      fontPath, TTF_GetError());
        return false;
    }
    gScreen.sessionEvent = SDL_RegisterEvents(1);
    if (gScreen.sessionEvent == static_cast<std::uint32_t>(-1)) {
        return Fail(error, capacity, "no SDL event type left");
    }
    // A borderless window at the display's bounds; where the compositor
    // places windows itself, the window asks for full screen on the display
    // instead.
    const DisplaySystem system = SdlDisplaySystem();
    Uint32 flags = SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
    int x = bounds.x;
    int y = bounds.y;
    if (CompositorPlacesWindows(system)) {
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        x = static_cast<int>(SDL_WINDOWPOS_UNDEFINED_DISPLAY(display));
        y = x;
    }
    gScreen.window = SDL_CreateWindow(kTitleUtf8, x, y, bounds.w, bounds.h, flags);
    if (gScreen.window == nullptr) return Fail(error, capacity, "cannot open the window");
    // The radius and the rotation come from the system that shows the
    // window; the firmware keeps the panel's orientation (the solve turns
    // the expected positions with the display).
    ReadDisplayFacts(gScreen.window, display, DisplayArea{bounds.x, bounds.y, bounds.w, bounds.h},
                     &gScreen.facts);
    gSession.targetRadiusPx = TargetRadiusOn(gScreen.facts, bounds.h);
    gSession.displayOrientation = gScreen.facts.orientation;
    // Software rendering: the same pixels on every video driver, and
    // nothing to start up for a screen this simple.
    ChooseFramePresentation(system);
    gScreen.renderer = SDL_CreateRenderer(gScreen.window, -1, SDL_RENDERER_SOFTWARE);
    if (gScreen.renderer == nullptr) return Fail(error, capacity, "cannot draw in the window");
    SDL_ShowCursor(SDL_DISABLE);
    return true;
}

void CloseCalibrationScreen() {
    if (gScreen.renderer != nullptr) SDL_DestroyRenderer(gScreen.renderer);
    if (gScreen.window != nullptr) SDL_DestroyWindow(gScreen.window);
    if (gScreen.screenFont != nullptr) TTF_CloseFont(gScreen.screenFont);
    if (gScreen.boxFont != nullptr) TTF_CloseFont(gScreen.boxFont);
    gScreen = LinuxScreen{};
}
