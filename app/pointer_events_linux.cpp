#include "app/pointer_events_linux.h"

#include <SDL.h>

PointerEvent ReadPointerEvent(const SDL_Event& event, int width, int height) {
    PointerEvent pointer = {PointerKind::kNone, 0, 0};
    switch (event.type) {
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const Uint8 button = event.button.button;
        if (event.button.which == SDL_TOUCH_MOUSEID ||
            (button != SDL_BUTTON_LEFT && button != SDL_BUTTON_RIGHT && button != SDL_BUTTON_MIDDLE)) {
            break;
        }
        pointer.kind = event.type == SDL_MOUSEBUTTONUP ? PointerKind::kRelease : PointerKind::kPress;
        pointer.x = event.button.x;
        pointer.y = event.button.y;
        break;
    }
    case SDL_FINGERDOWN:
    case SDL_FINGERUP:
        pointer.kind = event.type == SDL_FINGERUP ? PointerKind::kRelease : PointerKind::kPress;
        pointer.x = static_cast<int>(event.tfinger.x * static_cast<float>(width));
        pointer.y = static_cast<int>(event.tfinger.y * static_cast<float>(height));
        break;
    default:
        break;
    }
    return pointer;
}

void DropQueuedInput() {
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);  // keys, text, mouse
    SDL_FlushEvents(SDL_FINGERDOWN, SDL_FINGERMOTION);
}
