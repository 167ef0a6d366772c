#include "display/x11_saved_matrices_linux.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char kSessionSelection[] = "kelcalib-session";
constexpr char kSavedProperty[] = "kelcalib-saved-matrices";

Window SavedOn(Display* display) {
    return RootWindow(display, 0);
}

bool SessionRunning(Display* display) {
    const Atom selection = XInternAtom(display, kSessionSelection, False);
    return XGetSelectionOwner(display, selection) != None;
}

// The property's text; empty when there is none.
std::string ReadSaved(Display* display) {
    const Atom property = XInternAtom(display, kSavedProperty, True);
    if (property == None) return "";
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(display, SavedOn(display), property, 0, 16384, False, XA_STRING, &type,
                           &format, &count, &after, &data) == Success &&
        data != nullptr && format == 8) {
        text.assign(reinterpret_cast<const char*>(data), count);
    }
    if (data != nullptr) XFree(data);
    return text;
}

}  // namespace

bool SaveXMatrices(Display* display, const XTouchDevices& devices) {
    const Atom selection = XInternAtom(display, kSessionSelection, False);
    if (XGetSelectionOwner(display, selection) != None) return false;
    // A window of this connection to own the selection by; never shown.
    const Window owner = XCreateWindow(display, SavedOn(display), 0, 0, 1, 1, 0, CopyFromParent,
                                       InputOnly, CopyFromParent, 0, nullptr);
    XSetSelectionOwner(display, selection, owner, CurrentTime);
    if (XGetSelectionOwner(display, selection) != owner) return false;
    std::string text;
    for (int i = 0; i < devices.count; ++i) {
        const XTouchDevice& d = devices.device[i];
        if (!d.hasMatrix) continue;
        char line[400];
        std::snprintf(line, sizeof line, "%d %s %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", d.id,
                      d.node, d.matrix[0], d.matrix[1], d.matrix[2], d.matrix[3], d.matrix[4],
                      d.matrix[5], d.matrix[6], d.matrix[7], d.matrix[8]);
        text += line;
    }
    XChangeProperty(display, SavedOn(display), XInternAtom(display, kSavedProperty, False), XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    XSync(display, False);
    return true;
}

void ForgetSavedXMatrices(Display* display) {
    const Atom property = XInternAtom(display, kSavedProperty, True);
    if (property == None) return;
    XDeleteProperty(display, SavedOn(display), property);
    XSync(display, False);
}

int RestoreLeftXMatrices(Display* display, char names[kMostRestoredNames][96]) {
    if (SessionRunning(display)) return 0;
    const std::string text = ReadSaved(display);
    if (text.empty()) return 0;
    int restored = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        int id = 0;
        char node[32] = "";
        double m[9] = {};
        if (std::sscanf(line.c_str(), "%d %31s %lf %lf %lf %lf %lf %lf %lf %lf %lf", &id, node, &m[0],
                        &m[1], &m[2], &m[3], &m[4], &m[5], &m[6], &m[7], &m[8]) != 11) {
            continue;
        }
        // Only the same device: ids are handed out again after an unplug.
        XTouchDevice device;
        if (!ReadXTouchDevice(display, id, &device) || std::strcmp(device.node, node) != 0) continue;
        if (!WriteXMatrix(display, id, m)) continue;
        if (restored < kMostRestoredNames) {
            std::snprintf(names[restored], 96, "%s", device.name);
        }
        ++restored;
    }
    ForgetSavedXMatrices(display);
    return restored < kMostRestoredNames ? restored : kMostRestoredNames;
}
