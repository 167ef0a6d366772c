#include "app/identify_linux.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/controller_choice_linux.h"
#include "app/exit_status_linux.h"
#include "app/session_events_linux.h"
#include "app/calibration_window_linux.h"
#include "app/session_state.h"
#include "app/session_texts.h"
#include "device/controller_protocol.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"
#include "device/hidraw_linux.h"
#include "device/hidraw_sysfs_linux.h"
#include "device/name_text.h"

namespace {

constexpr std::uint32_t kReadEveryMs = 20;
constexpr std::uint32_t kSecondsPerDisplay = 20;
constexpr std::uint32_t kPairShownMs = 800;
constexpr SDL_Color kBlack = {0, 0, 0, 255};
constexpr SDL_Color kGrey = {200, 200, 200, 255};

struct Controller {
    HidInterfaceInfo info;
    EventDevices events;
    bool open;
    // Its open node: what gSession's link fields hold while it is talked to
    // (the link keeps the rest of it, device/hid_link_linux.h).
    HANDLE device;
    std::uint16_t featureReportLength;
    bool gone;
    int display;        // paired display, -1 for none
    char displayName[64];
};

// Calls `step` with gSession's controller fields pointing at controller
// `c` (the protocol talks to gSession.device).
template <typename Step>
void WithController(Controller& c, Step step) {
    gSession.device = c.device;
    gSession.featureReportLength = c.featureReportLength;
    gSession.deviceGone = c.gone;
    step();
    c.device = gSession.device;
    c.gone = gSession.deviceGone;
    gSession.device = nullptr;
    gSession.featureReportLength = 0;
    gSession.deviceGone = false;
}

void DrawLine(TTF_Font* font, const char* text, int y) {
    SDL_Surface* surface = TTF_RenderUTF8_Shaded(font, text, kBlack, kGrey);
    if (surface == nullptr) return;
    SDL_Texture* texture = SDL_CreateTextureFromSurface(gScreen.renderer, surface);
    if (texture != nullptr) {
        const SDL_Rect place = {(gScreen.width - surface->w) / 2, y, surface->w, surface->h};
        SDL_RenderCopy(gScreen.renderer, texture, nullptr, &place);
        SDL_DestroyTexture(texture);
    }
    SDL_FreeSurface(surface);
}

// The display's prompt, or once paired the controller found on it.
void DrawDisplay(int display, const char* pairedWith, std::uint32_t secondsLeft) {
    SDL_SetRenderDrawColor(gScreen.renderer, kGrey.r, kGrey.g, kGrey.b, 255);
    SDL_RenderClear(gScreen.renderer);
    const int line = TTF_FontLineSkip(gScreen.boxFont);
    const int top = gScreen.height / 2 - 2 * line;
    char text[160];
    if (pairedWith != nullptr) {
        std::snprintf(text, sizeof text, "Display %d (%s): %s", display, gScreen.facts.name,
                      pairedWith);
        DrawLine(gScreen.boxFont, text, top + line);
    } else {
        DrawLine(gScreen.boxFont, "Touch this screen", top);
        std::snprintf(text, sizeof text, "Display %d (%s)", display, gScreen.facts.name);
        DrawLine(gScreen.boxFont, text, top + line);
        std::snprintf(text, sizeof text,
                      "Esc: no touch screen on this display (or wait %u s)", secondsLeft);
        DrawLine(gScreen.screenFont, text, top + 3 * line);
    }
    SDL_RenderPresent(gScreen.renderer);
}

enum class Outcome { kPaired, kPassed, kQuit };

// Shows display `display`'s prompt until an unpaired controller reports a
// touch, Esc or the time passes the display by, or the program is asked to
// end (a close request, a signal, the display lost).
Outcome AskDisplay(std::vector<Controller>& controllers, int display) {
    for (Controller& c : controllers) {
        if (c.open && c.display < 0) WithController(c, [] { SendTargetCue(); });
    }
    const std::uint32_t start = SDL_GetTicks();
    std::uint32_t shownLeft = 0;
    for (;;) {
        const std::uint32_t elapsed = SDL_GetTicks() - start;
        if (elapsed >= kSecondsPerDisplay * 1000) return Outcome::kPassed;
        const std::uint32_t left = kSecondsPerDisplay - elapsed / 1000;
        if (left != shownLeft) {
            DrawDisplay(display, nullptr, left);
            shownLeft = left;
        }
        SessionInput input;
        while (NextInput(&input)) {
            if (input.kind == InputKind::kLeave) return Outcome::kQuit;
            if (input.kind == InputKind::kEscape) return Outcome::kPassed;
            if (input.kind == InputKind::kRedraw) shownLeft = 0;
        }
        for (Controller& c : controllers) {
            if (!c.open || c.display >= 0) continue;
            bool touched = false;
            WithController(c, [&] {
                std::uint16_t x = 0;
                std::uint16_t y = 0;
                touched = ReadTouchPoint(&x, &y);
            });
            if (touched) {
                c.display = display;
                std::snprintf(c.displayName, sizeof c.displayName, "%s", gScreen.facts.name);
                DrawDisplay(display, c.info.path, 0);
                SDL_Delay(kPairShownMs);
                return Outcome::kPaired;
            }
        }
        SDL_Delay(kReadEveryMs);
    }
}

// The abort command takes each controller out of touch packet mode, back
// to its committed calibration; then its node is closed.
void AbortAll(std::vector<Controller>& controllers) {
    for (Controller& c : controllers) {
        if (!c.open) continue;
        WithController(c, [] {
            if (!TouchDeviceOpen()) return;
            SendAbort();
            CloseTouchDevice();
        });
    }
}

// The controllers of the run in progress, for the X server going away.
std::vector<Controller>* gIdentifying = nullptr;

int LeaveIdentifyWithoutDisplay() {
    if (gIdentifying != nullptr) AbortAll(*gIdentifying);
    std::fprintf(stderr, "kelcalib: --identify ended: the display went away\n");
    return kExitAbandoned;
}

void PrintText(const std::vector<Controller>& controllers) {
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        const Controller& c = controllers[i];
        std::string inputs;
        for (int e = 0; e < c.events.count; ++e) {
            inputs += (e > 0 ? ", " : "");
            inputs += c.events.path[e];
        }
        std::printf("controller %zu %s (input %s): ", i, c.info.path,
                    inputs.empty() ? "none" : inputs.c_str());
        if (c.display >= 0) {
            std::printf("display %d %s\n", c.display, c.displayName);
        } else {
            std::printf("%s\n", c.open ? "no display (not touched)" : "not opened");
        }
    }
}

void PrintJson(const std::vector<Controller>& controllers) {
    std::printf("{\"controllers\":[");
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        const Controller& c = controllers[i];
        std::printf("%s{\"index\":%zu,\"device\":", i > 0 ? "," : "", i);
        PrintJsonString(c.info.path);
        std::printf(",\"name\":");
        PrintJsonString(c.info.name);
        std::printf(",\"input_devices\":[");
        for (int e = 0; e < c.events.count; ++e) {
            if (e > 0) std::printf(",");
            PrintJsonString(c.events.path[e]);
        }
        std::printf("],\"opened\":%s,\"display\":", c.open ? "true" : "false");
        if (c.display >= 0) {
            std::printf("%d,\"display_name\":", c.display);
            PrintJsonString(c.displayName);
        } else {
            std::printf("null,\"display_name\":null");
        }
        std::printf("}");
    }
    std::printf("]}\n");
}

}  // namespace

int RunIdentify(const char* fontPath, bool json) {
    std::vector<Controller> controllers;
    bool listed = false;
    for (const HidInterfaceInfo& info : ListAllHidInterfaces(gSession.vendorId, &listed)) {
        if (!info.ours) continue;
        Controller c{};
        c.info = info;
        c.display = -1;
        unsigned node = 0;
        if (HidrawNodeNumber(info.path, &node)) HidrawEventDevices(node, &c.events);
        controllers.push_back(c);
    }
    if (!listed) {
        std::fprintf(stderr, "kelcalib: the list of hidraw nodes in /dev cannot be read\n");
        return 1;
    }
    int opened = 0;
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        Controller& c = controllers[i];
        c.open = OpenTouchDevice(gSession.vendorId, static_cast<std::uint16_t>(i));
        c.device = gSession.device;
        c.featureReportLength = gSession.featureReportLength;
        gSession.device = nullptr;
        opened += c.open ? 1 : 0;
    }
    char problem[1024] = "";
    const bool described = opened == 0 && DescribeOpenProblem(problem, sizeof problem);
    if (opened == 0) {
        if (described) {
            std::fprintf(stderr, "kelcalib: %s", problem);
        } else {
            std::fprintf(stderr, "kelcalib: no controller of vendor ID 0x%04X\n",
                         static_cast<unsigned>(gSession.vendorId));
        }
        return described && OpenDeniedAccess() ? kExitNotPermitted : kExitNoController;
    }
    int status = kExitOk;
    gIdentifying = &controllers;
    SetDisplayLostStep(LeaveIdentifyWithoutDisplay);
    const int displays = SDL_GetNumVideoDisplays();
    int unpaired = opened;
    for (int d = 0; d < displays && unpaired > 0; ++d) {
        char error[512] = "";
        if (!OpenCalibrationScreen(d, fontPath, error, sizeof error)) {
            std::fprintf(stderr, "kelcalib: %s: %s\n", kInitFailedUtf8, error);
            CloseCalibrationScreen();
            status = kExitCannotStart;
            break;
        }
        SDL_RaiseWindow(gScreen.window);
        const Outcome outcome = AskDisplay(controllers, d);
        CloseCalibrationScreen();
        if (outcome == Outcome::kQuit) {
            status = kExitAbandoned;
            break;
        }
        if (outcome == Outcome::kPaired) --unpaired;
    }
    AbortAll(controllers);
    gIdentifying = nullptr;
    if (json) {
        PrintJson(controllers);
    } else {
        PrintText(controllers);
    }
    return status;
}
