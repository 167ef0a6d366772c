// What an SDL event is to the calibration: a finger or a mouse button going
// down or up, at a window position. One touch counts once on every video
// driver: a touch screen's finger events are taken (SDL delivers them
// without a window and without mouse events on KMS/DRM), and the mouse
// events SDL makes from a touch on X11 and Wayland are not, while a real
// mouse's left, right and middle buttons are.
#ifndef KELCALIB_APP_TOUCH_CAPTURE_LINUX_H
#define KELCALIB_APP_TOUCH_CAPTURE_LINUX_H

union SDL_Event;

enum class PointerKind { kNone, kPress, kRelease };

struct PointerEvent {
    PointerKind kind;
    int x;  // window pixels
    int y;
};

// `event` as a press or release in a window of `width` x `height` pixels
// (finger positions arrive as fractions of it); kNone for anything else.
PointerEvent ReadPointerEvent(const SDL_Event& event, int width, int height);

// Drops the keys, mouse and finger events that SDL and the system have
// queued so far: called when a screen is shown after a blocking transfer,
// so a touch or key made before it is not taken as an answer to it. Esc
// stays (pressed during a transfer it still ends the calibration, as it
// does on Windows), and so do window events, quit requests and the
// session's own messages.
void DropQueuedInput();

// True when an Esc key press is queued (made during a transfer and not yet
// read); the queue is left as it is.
bool EscapeQueued();

#endif  // KELCALIB_APP_TOUCH_CAPTURE_LINUX_H
