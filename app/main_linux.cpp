// The Linux program from its arguments to its exit code: the options, one
// copy only, SDL, the calibration window on the chosen display, the session.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>

#include "app/display_facts_linux.h"
#include "app/identify_linux.h"
#include "app/options_linux.h"
#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/single_instance_linux.h"
#include "app/wayland_probe_linux.h"

#ifndef KELCALIB_FONT_PATH
#define KELCALIB_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace {

int ListDisplays() {
    const int count = SDL_GetNumVideoDisplays();
    if (count < 1) {
        std::fprintf(stderr, "kelcalib: no display: %s\n", SDL_GetError());
        return 1;
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
        return 1;
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
            return 1;
        }
        if (lock == LockResult::kFailed) {
            std::fprintf(stderr, "kelcalib: %s; going on without the one-copy check\n", error);
        }
    }
    if (!AvoidSeatlessWayland(error, sizeof(error))) {
        std::fprintf(stderr, "kelcalib: %s\n", error);
        return 1;
    }
    gSession = InitialSessionState();
    // Closing the window is a close request the session answers (abort
    // command first), not an immediate quit.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0 || TTF_Init() != 0) {
        std::fprintf(stderr, "kelcalib: %s: %s\n", kInitFailedUtf8, SDL_GetError());
        SDL_Quit();
        return 1;
    }
    CatchHangup();
    const int code = Run(options);
    CloseCalibrationScreen();
    TTF_Quit();
    SDL_Quit();
    return code;
}
