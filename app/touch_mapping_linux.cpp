#include "app/touch_mapping_linux.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/display_mapping.h"
#include "app/mapping_advice.h"
#include "app/session_linux.h"
#include "app/session_state.h"
#include "app/x11_display_linux.h"
#include "app/x11_touch_devices_linux.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

struct TouchMapping {
    bool prepared;
    bool applied;  // the matrices differ from the saved ones
    bool persist;
    Display* x;    // SDL's connection; null when not on X11
    ChosenController controller;
    EventDevices events;
    char inputName[128];
    XTouchDevices devices;  // as found: their matrices before the session
    double matrix[9];       // the mapping onto the calibrated display
};

TouchMapping gMapping;

Display* X11DisplayOfWindow() {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (gScreen.window == nullptr || SDL_GetWindowWMInfo(gScreen.window, &info) != SDL_TRUE ||
        info.subsystem != SDL_SYSWM_X11) {
        return nullptr;
    }
    return info.info.x11.display;
}

MappingSubject Subject() {
    return MappingSubject{gMapping.controller.info.vendorId, gMapping.controller.info.productId,
                          gMapping.inputName, gScreen.facts.name};
}

// Writes the snippet where X reads its configuration; false with a message
// on stderr when it could not.
bool WriteSnippet(const char* text) {
    char path[160];
    XorgSnippetPath(Subject(), path, sizeof path);
    char file[600];
    SystemPath(path, file, sizeof file);
    char directory[600];
    std::snprintf(directory, sizeof directory, "%s", file);
    *std::strrchr(directory, '/') = '\0';
    if (mkdir(directory, 0755) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "kelcalib: cannot make %s: %s\n", directory, std::strerror(errno));
        return false;
    }
    char temporary[620];
    std::snprintf(temporary, sizeof temporary, "%s.new", file);
    std::FILE* out = std::fopen(temporary, "we");
    if (out == nullptr) {
        std::fprintf(stderr, "kelcalib: cannot write %s: %s\n", temporary, std::strerror(errno));
        return false;
    }
    const bool written = std::fputs(text, out) >= 0;
    if (std::fclose(out) != 0 || !written || std::rename(temporary, file) != 0) {
        std::fprintf(stderr, "kelcalib: cannot write %s: %s\n", file, std::strerror(errno));
        std::remove(temporary);
        return false;
    }
    std::printf("kelcalib: wrote %s; the X server reads it at its next start.\n", path);
    return true;
}

void KeepOnX11() {
    if (IsIdentityMatrix(gMapping.matrix)) return;  // one display: nothing to keep
    char snippet[1024];
    FormatXorgSnippet(Subject(), gMapping.matrix, snippet, sizeof snippet);
    if (gMapping.persist) {
        if (geteuid() == 0) {
            if (WriteSnippet(snippet)) return;
        } else {
            std::fprintf(stderr, "kelcalib: --persist writes to /etc/X11 and needs root\n");
        }
    }
    char path[160];
    XorgSnippetPath(Subject(), path, sizeof path);
    std::printf("The touch screen stays on %s for this X session. To keep it there, save\n"
                "this as %s (or run kelcalib --persist as root):\n\n%s",
                gScreen.facts.name, path, snippet);
}

void AdviseCompositor() {
    const Compositor compositor =
        DetectCompositor(std::getenv("XDG_CURRENT_DESKTOP"), std::getenv("XDG_SESSION_DESKTOP"),
                         std::getenv("SWAYSOCK") != nullptr,
                         std::getenv("HYPRLAND_INSTANCE_SIGNATURE") != nullptr);
    char step[1024];
    FormatCompositorStep(compositor, Subject(), step, sizeof step);
    std::printf("The compositor maps the touch screen to a display. %s", step);
}

}  // namespace

void PrepareTouchMapping(const ChosenController& controller, bool persist) {
    gMapping = TouchMapping{};
    gMapping.prepared = true;
    gMapping.persist = persist;
    gMapping.controller = controller;
    HidrawEventDevices(controller.node, &gMapping.events);
    if (gMapping.events.count > 0) {
        EventDeviceName(gMapping.events.path[0], gMapping.inputName, sizeof gMapping.inputName);
    }
    if (gMapping.inputName[0] == '\0') {
        std::snprintf(gMapping.inputName, sizeof gMapping.inputName, "%s", controller.info.name);
    }
    gMapping.x = X11DisplayOfWindow();
    if (gMapping.x == nullptr) return;
    FindXTouchDevices(gMapping.x, gMapping.events, &gMapping.devices);
    std::int32_t width = 0;
    std::int32_t height = 0;
    X11DesktopSize(gMapping.x, &width, &height);
    const RECT& r = gSession.screenRect;
    TouchMatrixForDisplay(width, height, DisplayArea{r.left, r.top, r.right - r.left, r.bottom - r.top},
                          gScreen.facts.orientation, gMapping.matrix);
}

void ApplyTouchMapping() {
    if (!gMapping.prepared || gMapping.x == nullptr || gMapping.applied) return;
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

void RestoreTouchMapping() {
    if (!gMapping.applied) return;
    gMapping.applied = false;
    for (int i = 0; i < gMapping.devices.count; ++i) {
        const XTouchDevice& device = gMapping.devices.device[i];
        if (device.hasMatrix) WriteXMatrix(gMapping.x, device.id, device.matrix);
    }
}

void KeepTouchMapping() {
    if (!gMapping.prepared) return;
    const bool kept = gMapping.applied;
    gMapping.applied = false;  // nothing to put back any more
    const char* driver = SDL_GetCurrentVideoDriver();
    if (kept) {
        KeepOnX11();
    } else if ((driver != nullptr && SDL_strcmp(driver, "wayland") == 0) ||
               (gMapping.x != nullptr && std::getenv("WAYLAND_DISPLAY") != nullptr)) {
        // Wayland, or X11 through Xwayland, whose devices are not the
        // controller's: the compositor maps the touch.
        AdviseCompositor();
    } else if (gMapping.x != nullptr) {
        std::printf("No X input device carries the touches of %s (%s): the X server does\n"
                    "not map them to the display. kelcalib-ctl doctor tells more.\n",
                    gMapping.controller.info.path,
                    gMapping.events.count > 0 ? gMapping.events.path[0] : "no input event device");
    }
    std::fflush(stdout);
}
