// Where the calibration program sees a touch, for the calibration VM's
// landing check on the displays without a pointer to ask (SDL's KMS/DRM
// console input, a Wayland compositor) and for counting what one touch gives
// on each: a full-screen SDL window like the program's, each touch read with
// the program's own ReadPointerEvent (app/touch_capture_linux.h).
//
//   sdl_touch_probe FILE W H X Y...
//
// Touches each point (pixels of a W x H screen) by writing the virtual
// controller's touch file FILE, lifts, and prints "TOUCH X Y PX PY N": the
// window position of the release the program would take, and how many
// releases the program would count for that one touch (the first and any
// other within 300 ms of it).
#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/touch_capture_linux.h"

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

// The releases within 3 s of the lift: the first one's position, and the
// count of those within 300 ms after it.
int CountReleases(int width, int height, PointerEvent* first) {
    int count = 0;
    Uint32 end = SDL_GetTicks() + 3000;
    while (!SDL_TICKS_PASSED(SDL_GetTicks(), end)) {
        SDL_Event event;
        if (SDL_WaitEventTimeout(&event, 20) == 0) continue;
        const PointerEvent pointer = ReadPointerEvent(event, width, height);
        if (pointer.kind != PointerKind::kRelease) continue;
        if (count++ == 0) {
            *first = pointer;
            end = SDL_GetTicks() + 300;
        }
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "usage: sdl_touch_probe FILE W H X Y... (%s)\n", SDL_GetError());
        return 2;
    }
    SDL_Rect bounds;
    SDL_GetDisplayBounds(0, &bounds);
    // As the program opens its window: a compositor places it full screen.
    Uint32 flags = SDL_WINDOW_BORDERLESS;
    if (std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_Window* window = SDL_CreateWindow("probe", bounds.x, bounds.y, bounds.w, bounds.h, flags);
    SDL_Renderer* renderer = window != nullptr ? SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE) : nullptr;
    if (renderer == nullptr) {
        std::fprintf(stderr, "sdl_touch_probe: no window: %s\n", SDL_GetError());
        return 1;
    }
    // A frame shown: a Wayland surface without one is never mapped and gets
    // no input.
    SDL_SetRenderDrawColor(renderer, 255, 255, 255, 255);
    SDL_RenderClear(renderer);
    SDL_RenderPresent(renderer);
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
        const int count = CountReleases(bounds.w, bounds.h, &release);
        std::printf("TOUCH %d %d %d %d %d\n", x, y, release.x, release.y, count);
        std::fflush(stdout);
    }
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
    return 0;
}
