// Where the calibration program sees a touch on SDL's KMS/DRM console
// input, for the calibration VM's landing check: a full-screen SDL window
// like the program's, each touch read with the program's own ReadPointerEvent
// (app/pointer_events_linux.h).
//
//   sdl_touch_probe FILE W H X Y...
//
// Touches each point (pixels of a W x H screen) by writing the virtual
// controller's touch file FILE, lifts, and prints "LAND X Y PX PY" with the
// window position of the release the program would take.
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "app/pointer_events_linux.h"

namespace {

void WriteTouch(const char* file, const char* text) {
    char next[512];
    std::snprintf(next, sizeof next, "%s.next", file);
    std::FILE* f = std::fopen(next, "w");
    if (f == nullptr) return;
    std::fputs(text, f);
    std::fclose(f);
    std::rename(next, file);
}

// The next release within 3 s, or false.
bool WaitRelease(int width, int height, PointerEvent* release) {
    const Uint32 end = SDL_GetTicks() + 3000;
    while (!SDL_TICKS_PASSED(SDL_GetTicks(), end)) {
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, 20) == 0) continue;
        const PointerEvent pointer = ReadPointerEvent(event, width, height);
        if (pointer.kind == PointerKind::kRelease) {
            *release = pointer;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "usage: sdl_touch_probe FILE W H X Y... (%s)\n", SDL_GetError());
        return 2;
    }
    SDL_Rect bounds;
    SDL_GetDisplayBounds(0, &bounds);
    SDL_Window* window = SDL_CreateWindow("probe", bounds.x, bounds.y, bounds.w, bounds.h,
                                          SDL_WINDOW_BORDERLESS);
    if (window == nullptr) return 1;
    const char* file = argv[1];
    const int w = std::atoi(argv[2]);
    const int h = std::atoi(argv[3]);
    SDL_Delay(300);
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    for (int i = 4; i + 1 < argc; i += 2) {
        const int x = std::atoi(argv[i]);
        const int y = std::atoi(argv[i + 1]);
        char text[64];
        std::snprintf(text, sizeof text, "%d %d %d %d\n", x, y, w, h);
        WriteTouch(file, text);
        SDL_Delay(60);
        WriteTouch(file, "none\n");
        PointerEvent release = {PointerKind::kNone, -1, -1};
        WaitRelease(bounds.w, bounds.h, &release);
        std::printf("LAND %d %d %d %d\n", x, y, release.x, release.y);
        std::fflush(stdout);
    }
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
