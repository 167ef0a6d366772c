// The Linux program from its arguments to its exit code: the options, one
// copy only, SDL, the calibration window on the chosen display, the session.
#include <SDL.h>
#include <SDL_ttf.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "app/single_instance_linux.h"
#include "app/wayland_probe_linux.h"

#ifndef KELCALIB_VERSION
#define KELCALIB_VERSION "0.0.0"
#endif
#ifndef KELCALIB_FONT_PATH
#define KELCALIB_FONT_PATH "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
#endif

namespace {

constexpr int kExitBadOption = 2;

void PrintUsage() {
    std::printf(
        "usage: kelcalib [--display N] [--list-displays] [--help] [--version]\n"
        "\n"
        "Four-point calibration of a USB HID touch controller (vendor ID 0x%04X); the\n"
        "calibration is kept in the controller itself. Touch the four targets, then\n"
        "answer whether the cursor now follows your finger. Esc quits without a change.\n"
        "\n"
        "  --display N      calibrate the touch screen on display N (default 0, the\n"
        "                   primary display)\n"
        "  --list-displays  list the displays with their numbers and bounds\n"
        "  --help           this text\n"
        "  --version        the program's version\n"
        "\n"
        "Exit status: 0 when the session ended (calibrated, abandoned, or no controller),\n"
        "1 when another copy is running or the screen cannot be opened, 2 for a bad option.\n",
        static_cast<unsigned>(KELCALIB_VENDOR_ID));
}

int BadOption(const char* what, const char* value) {
    std::fprintf(stderr, "kelcalib: %s '%s' (see kelcalib --help)\n", what, value);
    return kExitBadOption;
}

struct Options {
    int display;
    bool listDisplays;
};

// Returns -1 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options* options) {
    options->display = 0;
    options->listDisplays = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage();
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("kelcalib %s\n", KELCALIB_VERSION);
            return 0;
        }
        if (std::strcmp(arg, "--list-displays") == 0) {
            options->listDisplays = true;
            continue;
        }
        const char* value = nullptr;
        if (std::strcmp(arg, "--display") == 0) {
            if (i + 1 >= argc) return BadOption("missing number after", arg);
            value = argv[++i];
        } else if (std::strncmp(arg, "--display=", 10) == 0) {
            value = arg + 10;
        } else {
            return BadOption("unknown option", arg);
        }
        char* end = nullptr;
        errno = 0;
        const long number = std::strtol(value, &end, 10);
        if (value[0] < '0' || value[0] > '9' || *end != '\0' || errno != 0 || number > 255) {
            return BadOption("--display takes a display number, not", value);
        }
        options->display = static_cast<int>(number);
    }
    return -1;
}

int ListDisplays() {
    const int count = SDL_GetNumVideoDisplays();
    if (count < 1) {
        std::fprintf(stderr, "kelcalib: no display: %s\n", SDL_GetError());
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        SDL_Rect b = {0, 0, 0, 0};
        SDL_GetDisplayBounds(i, &b);
        const char* name = SDL_GetDisplayName(i);
        std::printf("%d: %dx%d at %d,%d%s  %s\n", i, b.w, b.h, b.x, b.y,
                    i == 0 ? " (primary)" : "", name != nullptr ? name : "");
    }
    return 0;
}

int Run(const Options& options) {
    if (options.listDisplays) return ListDisplays();
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
    return RunCalibrationSession();
}

}  // namespace

int RunKelcalib(int argc, char** argv) {
    Options options;
    const int parsed = ParseOptions(argc, argv, &options);
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
