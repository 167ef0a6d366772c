// The Linux program from its arguments to its exit code: the options, one
// copy only, SDL, the calibration window on the chosen display, the session.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>
#include <cstring>

#include "app/display_facts_linux.h"
#include "app/identify_linux.h"
#include "app/options_linux.h"
#include "app/session_events_linux.h"
#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/single_instance_linux.h"
#include "app/wayland_probe_linux.h"

#ifndef KELCALIB_FONT_PATH
#define KELCALIB_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace {

constexpr char kNoDisplay[] = "no display: set DISPLAY or WAYLAND_DISPLAY, or run on the console";

// SDL falls back on drivers that show nothing (offscreen, dummy) when no
// display system can be reached: taken only when asked for by name in
// SDL_VIDEODRIVER.
bool ShowsNothing(const char* driver) {
    if (driver == nullptr) return true;
    if (SDL_strcasecmp(driver, "offscreen") != 0 && SDL_strcasecmp(driver, "dummy") != 0) {
        return false;
    }
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (asked == nullptr) return true;
    const std::size_t length = std::strlen(driver);
    for (const char* p = asked; *p != '\0';) {
        const char* end = std::strchr(p, ',');
        const std::size_t n = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (n == length && SDL_strncasecmp(p, driver, n) == 0) return false;
        if (end == nullptr) break;
        p = end + 1;
    }
    return true;
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
    if (!AvoidSeatlessWayland(error, sizeof(error))) {
        std::fprintf(stderr, "kelcalib: %s\n", error);
        return kExitCannotStart;
    }
    gSession = InitialSessionState();
    gSession.vendorId = options.vendorId;
    gSession.misclickPx = options.misclickPx;
    // Closing the window is a close request the session answers (abort
    // command first), not an immediate quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    // Signals, a lost X server: from here on each ends a session through
    // its abort step.
    CatchLeaveSignals();
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        std::fprintf(stderr, "kelcalib: %s (%s)\n", kNoDisplay, SDL_GetError());
        SDL_Quit();
        return kExitCannotStart;
    }
    // Checked before any controller is opened.
    if (ShowsNothing(SDL_GetCurrentVideoDriver())) {
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
