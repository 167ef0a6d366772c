// The Linux side of the calibration program: the full-screen SDL window, the
// session driven by its event loop, the drawing of the target screen and the
// questions and messages drawn in the same window. Linux only.
#ifndef KELCALIB_APP_CALIBRATION_WINDOW_LINUX_H
#define KELCALIB_APP_CALIBRATION_WINDOW_LINUX_H

#include <cstdint>

#include "app/controller_choice_linux.h"
#include "display/display_facts_linux.h"
#include "app/session_state.h"

struct SDL_Window;
struct SDL_Renderer;
typedef struct _TTF_Font TTF_Font;

// The display side of the program, beside gSession: what SDL handed out.
struct LinuxScreen {
    SDL_Window* window;
    SDL_Renderer* renderer;
    TTF_Font* screenFont;  // the target screen's three lines
    TTF_Font* boxFont;     // questions and messages
    std::int32_t width;    // window pixels
    std::int32_t height;
    int display;           // SDL's number of the display the window is on
    DisplayFacts facts;    // its size, rotation and name
    std::uint32_t sessionEvent;  // SDL event type of the posted session messages
    bool collecting;             // a pass takes releases as touches
    bool ended;                  // WM_CALIB_EXIT handled: the loop stops
    bool displayLost;            // the X server went away: no more calls to it
    std::int32_t misclickPx;     // the last pass missed by this much (0: say nothing)
};

extern LinuxScreen gScreen;

// The whole program: options, one copy, SDL, the window, the session.
// Returns the exit code.
int RunKelcalib(int argc, char** argv);

// gSession.screenRect as an area of the desktop.
DisplayArea ScreenArea();

// Opens the window on display `display` (bounds, radius, layout, fonts).
// On false `error` holds one line saying what failed.
bool OpenCalibrationScreen(int display, const char* fontPath, char* error, int capacity);
void CloseCalibrationScreen();

// The session from opening the chosen controller to the end (--persist:
// write the X configuration after Yes); returns the exit code and has said
// on the terminal how the session ended.
int RunCalibrationSession(const ControllerChoice& choice, bool persist);

// What the program does when its display server goes away (an X I/O error),
// whatever it is doing: the abort step for the controllers it holds, one
// line, and its exit status (the process then ends with it). Each mode sets
// its own (the session's by default).
void SetDisplayLostStep(int (*step)());
// Installs the X I/O error handler that runs it.
void CatchLostDisplay();

// The text below the no-controller message (why the controller could not
// be opened), and the same for the terminal.
void NoteNoControllerDetail(const char* detail);
const char* NoControllerDetail();

// Draws the target of `pointCount` (none when it is 4) and the three lines.
void PaintTargetScreen();

// Questions and messages drawn in the calibration window. kClosed: ended
// by a close request, a signal or the display lost, which `why` names.
enum class BoxKind { kOk, kYesNo };
enum class BoxAnswer { kOk, kYes, kNo, kClosed };
BoxAnswer ShowBox(const char* text, const char* caption, BoxKind kind, AbandonReason* why);

#endif  // KELCALIB_APP_CALIBRATION_WINDOW_LINUX_H
