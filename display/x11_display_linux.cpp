#include "display/x11_display_linux.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>

#include "display/display_facts_linux.h"
#include "device/name_text.h"

namespace {

// RandR's rotation bit as the session record's orientation.
std::int32_t OrientationOf(Rotation rotation) {
    if ((rotation & RR_Rotate_90) != 0) return 1;
    if ((rotation & RR_Rotate_180) != 0) return 2;
    if ((rotation & RR_Rotate_270) != 0) return 3;
    return 0;
}

bool HasRandr(Display* display) {
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(display, &event, &error) != 0 &&
           XRRQueryVersion(display, &major, &minor) != 0 && (major > 1 || minor >= 2);
}

// Calls `visit` with each connected output that has a CRTC, until it
// returns true; true when one did.
template <typename Visit>
bool ForEachShowingOutput(Display* display, int screen, Visit visit) {
    if (!HasRandr(display) || screen < 0 || screen >= ScreenCount(display)) return false;
    XRRScreenResources* resources =
        XRRGetScreenResourcesCurrent(display, RootWindow(display, screen));
    if (resources == nullptr) return false;
    bool done = false;
    for (int i = 0; i < resources->noutput && !done; ++i) {
        XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[i]);
        if (output == nullptr) continue;
        if (output->connection == RR_Connected && output->crtc != 0) {
            XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, output->crtc);
            if (crtc != nullptr) {
                done = visit(*output, *crtc);
                XRRFreeCrtcInfo(crtc);
            }
        }
        XRRFreeOutputInfo(output);
    }
    XRRFreeScreenResources(resources);
    return done;
}

}  // namespace

int X11ScreenOfWindow(Display* display, unsigned long window) {
    XWindowAttributes attributes{};
    if (window == 0 || XGetWindowAttributes(display, window, &attributes) == 0 || attributes.screen == nullptr) {
        return DefaultScreen(display);
    }
    return XScreenNumberOfScreen(attributes.screen);
}

bool X11OutputFacts(Display* display, int screen, const DisplayArea& area, DisplayFacts* facts) {
    return ForEachShowingOutput(display, screen, [&](const XRROutputInfo& output, const XRRCrtcInfo& crtc) {
        if (crtc.x != area.x || crtc.y != area.y || static_cast<std::int32_t>(crtc.width) != area.width ||
            static_cast<std::int32_t>(crtc.height) != area.height) {
            return false;
        }
        // RandR gives the panel's own millimetres; the CRTC turns the picture.
        facts->orientation = OrientationOf(crtc.rotation);
        SizeAsShown(static_cast<std::int32_t>(output.mm_width),
                    static_cast<std::int32_t>(output.mm_height), facts->orientation,
                    &facts->widthMm, &facts->heightMm);
        TakeName(output.name, static_cast<std::size_t>(output.nameLen), facts->name, sizeof facts->name);
        return true;
    });
}

void X11DesktopSize(Display* display, std::int32_t* width, std::int32_t* height) {
    const int screen = DefaultScreen(display);
    *width = DisplayWidth(display, screen);
    *height = DisplayHeight(display, screen);
}

int X11ShownAreas(Display* display, X11Output* outputs, int capacity) {
    int count = 0;
    ForEachShowingOutput(display, DefaultScreen(display), [&](const XRROutputInfo& output, const XRRCrtcInfo& crtc) {
        const DisplayArea area = {crtc.x, crtc.y, static_cast<std::int32_t>(crtc.width),
                                  static_cast<std::int32_t>(crtc.height)};
        for (int i = 0; i < count && i < capacity; ++i) {
            const DisplayArea& seen = outputs[i].area;
            if (seen.x == area.x && seen.y == area.y && seen.width == area.width &&
                seen.height == area.height) {
                return false;
            }
        }
        if (count < capacity) {
            outputs[count].area = area;
            TakeName(output.name, static_cast<std::size_t>(output.nameLen), outputs[count].name,
                     sizeof outputs[count].name);
        }
        ++count;
        return false;
    });
    return count;
}
