#include "display/touch_mapping_linux.h"

#include <SDL.h>
#include <X11/Xlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display_mapping.h"
#include "display/mapping_advice.h"
#include "display/persist_mapping_linux.h"
#include "display/display_system_linux.h"
#include "display/wayland_outputs_linux.h"
#include "display/x11_display_linux.h"
#include "display/x11_saved_matrices_linux.h"
#include "display/x11_touch_devices_linux.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

struct TouchMapping {
    bool prepared;
    bool applied;  // the matrices differ from the saved ones
    bool saved;    // the matrices as they were are saved in the X server
    bool persist;
    Display* x;    // SDL's connection; null when not on X11 or not mapped there
    unsigned node;
    HidInterfaceInfo controller;
    MappedDisplay display;
    EventDevices events;
    char inputName[128];
    InputDevicePlace place;
    XTouchDevices devices;  // as found: their matrices before the session
    double matrix[9];       // the mapping onto the calibrated display
};

TouchMapping gMapping;

MappingSubject Subject(const char* outputName) {
    return MappingSubject{gMapping.controller.vendorId, gMapping.controller.productId,
                          gMapping.inputName, outputName, gMapping.place.byIdPath,
                          gMapping.place.place, gMapping.place.uniq};
}

bool SameMatrix(const double a[9], const double b[9]) {
    for (int i = 0; i < 9; ++i) {
        if (std::fabs(a[i] - b[i]) > 1e-4) return false;
    }
    return true;
}

// A matrix a device had before the session that is neither the identity nor
// the mapping kept: what was there, and what the program did with it.
void WarnOfEarlierMatrices() {
    for (int i = 0; i < gMapping.devices.count; ++i) {
        const XTouchDevice& d = gMapping.devices.device[i];
        if (!d.hasMatrix || IsIdentityMatrix(d.matrix) || SameMatrix(d.matrix, gMapping.matrix)) continue;
        const double* m = d.matrix;
        std::fprintf(stderr,
                     "kelcalib: the X device \"%s\" had the transformation matrix %.6g %.6g %.6g %.6g "
                     "%.6g %.6g %.6g %.6g %.6g before this calibration. The calibration was made without "
                     "it and the device now has %s; whatever set it (X's configuration, a start-up "
                     "script; --persist replaces a kelcalib file of this controller) would move every "
                     "touch again at the next X start: remove that.\n",
                     d.name, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8],
                     IsIdentityMatrix(gMapping.matrix) ? "the identity" : "the mapping onto this display");
    }
}

// Matrices an earlier session left changed (killed or crashed before it
// could put them back): back to what that session saved, and said.
void PutBackLeftMatrices(Display* x) {
    char names[kMostRestoredNames][96];
    const int restored = RestoreLeftXMatrices(x, names);
    for (int i = 0; i < restored; ++i) {
        std::fprintf(stderr,
                     "kelcalib: an earlier calibration ended without putting the touch mapping back: "
                     "the X device \"%s\" has its matrix as before that calibration again\n",
                     names[i]);
    }
}

// After udev applied the rule: the X server takes the event device away and
// adds it again (a new id) without the session's matrix. Once it is back
// (or after 3 s), every X device of the controller gets the mapping again.
void MapAgainAfterUdev() {
    for (int attempt = 0; attempt < 30; ++attempt) {
        XTouchDevices now{};
        FindXTouchDevices(gMapping.x, gMapping.events, &now);
        bool added = false;
        for (int i = 0; i < now.count; ++i) {
            bool known = false;
            for (int j = 0; j < gMapping.devices.count; ++j) {
                known = known || now.device[i].id == gMapping.devices.device[j].id;
            }
            added = added || !known;
        }
        if (added || attempt == 29) {
            for (int i = 0; i < now.count; ++i) {
                if (now.device[i].hasMatrix) WriteXMatrix(gMapping.x, now.device[i].id, gMapping.matrix);
            }
            return;
        }
        SDL_Delay(100);
    }
}

void AdviseCompositor() {
    const Compositor compositor =
        DetectCompositor(std::getenv("XDG_CURRENT_DESKTOP"), std::getenv("XDG_SESSION_DESKTOP"),
                         std::getenv("SWAYSOCK") != nullptr,
                         std::getenv("HYPRLAND_INSTANCE_SIGNATURE") != nullptr);
    // The output as the compositor names it (SDL's display name is the
    // monitor's make and model there).
    char output[64] = "";
    WaylandOutputName(gMapping.display.area, output, sizeof output);
    char step[1024];
    FormatCompositorStep(compositor, Subject(output), step, sizeof step);
    std::printf("The compositor maps the touch screen to a display. %s", step);
}

}  // namespace

void PrepareDisplayMapping(unsigned node, const HidInterfaceInfo& controller,
                           const MappedDisplay& display, bool persist) {
    gMapping = TouchMapping{};
    gMapping.prepared = true;
    gMapping.persist = persist;
    gMapping.node = node;
    gMapping.controller = controller;
    gMapping.display = display;
    HidrawEventDevices(node, &gMapping.events);
    if (gMapping.events.count > 0) {
        EventDeviceName(gMapping.events.path[0], gMapping.inputName, sizeof gMapping.inputName);
        EventDevicePlace(gMapping.events.path[0], &gMapping.place);
    }
    if (gMapping.inputName[0] == '\0') {
        std::snprintf(gMapping.inputName, sizeof gMapping.inputName, "%s", controller.name);
    }
    gMapping.x = WindowXConnection(display.window);
    if (gMapping.x == nullptr) return;
    PutBackLeftMatrices(gMapping.x);
    // A matrix spans the desktop of every X screen, whose arrangement X does
    // not tell: no matrix is right for one display then.
    const int screens = ScreenCount(gMapping.x);
    if (screens > 1) {
        std::fprintf(stderr,
                     "kelcalib: this X display has %d screens: the touch mapping is left as it is (a "
                     "matrix spans every screen, and X does not tell how they lie); map the touch "
                     "screen to its display in X's configuration\n",
                     screens);
        gMapping.x = nullptr;
        gMapping.prepared = false;
        return;
    }
    FindXTouchDevices(gMapping.x, gMapping.events, &gMapping.devices);
    std::int32_t width = 0;
    std::int32_t height = 0;
    X11DesktopSize(gMapping.x, &width, &height);
    TouchMatrixForDisplay(width, height, display.area, display.orientation, gMapping.matrix);
}

void ApplyDisplayMapping() {
    if (!gMapping.prepared || gMapping.x == nullptr || gMapping.applied) return;
    // Saved before they change, for a session that ends without RestoreDisplayMapping.
    if (!gMapping.saved) {
        gMapping.saved = SaveXMatrices(gMapping.x, gMapping.devices);
        if (!gMapping.saved) {
            SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION,
                        "another calibration runs on this X display: the matrices as they are could "
                        "not be saved for a crash");
        }
    }
    for (int i = 0; i < gMapping.devices.count; ++i) {
        const XTouchDevice& device = gMapping.devices.device[i];
        if (!device.hasMatrix) continue;
        gMapping.applied = true;
        if (!WriteXMatrix(gMapping.x, device.id, gMapping.matrix)) {
            SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "the X server refused the matrix of %s",
                        device.name);
        }
    }
}

void RestoreDisplayMapping() {
    if (!gMapping.applied) return;
    gMapping.applied = false;
    for (int i = 0; i < gMapping.devices.count; ++i) {
        const XTouchDevice& device = gMapping.devices.device[i];
        if (device.hasMatrix) WriteXMatrix(gMapping.x, device.id, device.matrix);
    }
    if (gMapping.saved) ForgetSavedXMatrices(gMapping.x);
    gMapping.saved = false;
}

void KeepDisplayMapping() {
    if (!gMapping.prepared) return;
    const bool kept = gMapping.applied;
    gMapping.applied = false;  // nothing to put back any more
    if (gMapping.saved) ForgetSavedXMatrices(gMapping.x);
    gMapping.saved = false;
    if (kept) {
        WarnOfEarlierMatrices();
        if (KeepMappingOnX11(Subject(gMapping.display.name), gMapping.matrix,
                             gMapping.events.count > 0 ? gMapping.events.path[0] : "", gMapping.persist)) {
            MapAgainAfterUdev();
        }
    } else if (CompositorMapsTouch(SdlDisplaySystem())) {
        // Wayland, or X11 through Xwayland, whose devices are not the
        // controller's: the compositor maps the touch.
        AdviseCompositor();
    } else if (gMapping.x != nullptr) {
        std::printf("No X input device carries the touches of %s (%s): the X server does\n"
                    "not map them to the display. kelcalib-ctl doctor tells more.\n",
                    gMapping.controller.path,
                    gMapping.events.count > 0 ? gMapping.events.path[0] : "no input event device");
    }
    std::fflush(stdout);
    std::fflush(stderr);
}
