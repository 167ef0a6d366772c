// kelcalib-ctl doctor on Linux: for each controller, its node, the udev
// rule, its input event devices, the X devices that read them and their
// mapping, and the corrections udev and X's input drivers add; then the
// corrections X's configuration and tslib add for every device.
#include <X11/Xlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ctl/ctl_doctor.h"
#include "ctl/ctl_doctor_files_linux.h"
#include "ctl/ctl_doctor_scan.h"
#include "ctl/ctl_platform.h"
#include "display/display_mapping.h"
#include "display/x11_display_linux.h"
#include "display/x11_saved_matrices_linux.h"
#include "display/x11_touch_devices_linux.h"
#include "device/hid_device.h"
#include "device/hid_enumerate.h"
#include "device/hidraw_sysfs_linux.h"

namespace {

constexpr int kMostAreas = 16;

void Add(DoctorSection* section, const char* check, DoctorVerdict verdict, const std::string& text,
         const std::string& advice = "") {
    section->findings.push_back(DoctorFinding{check, verdict, text, advice});
}

std::string AreaText(const DisplayArea& a) {
    char text[64];
    std::snprintf(text, sizeof text, "%dx%d at %d,%d", a.width, a.height, a.x, a.y);
    return text;
}

// The part of the desktop the matrix puts the whole range on, in pixels.
DisplayArea MappedArea(const double m[9], std::int32_t width, std::int32_t height) {
    double low[2] = {1e9, 1e9};
    double high[2] = {-1e9, -1e9};
    for (int corner = 0; corner < 4; ++corner) {
        const double u = corner & 1;
        const double v = corner >> 1;
        const double p[2] = {m[0] * u + m[1] * v + m[2], m[3] * u + m[4] * v + m[5]};
        for (int axis = 0; axis < 2; ++axis) {
            low[axis] = std::fmin(low[axis], p[axis]);
            high[axis] = std::fmax(high[axis], p[axis]);
        }
    }
    return DisplayArea{static_cast<std::int32_t>(std::lround(low[0] * width)),
                       static_cast<std::int32_t>(std::lround(low[1] * height)),
                       static_cast<std::int32_t>(std::lround((high[0] - low[0]) * width)),
                       static_cast<std::int32_t>(std::lround((high[1] - low[1]) * height))};
}

bool Near(const DisplayArea& a, const DisplayArea& b) {
    return std::abs(a.x - b.x) <= 2 && std::abs(a.y - b.y) <= 2 && std::abs(a.width - b.width) <= 2 &&
           std::abs(a.height - b.height) <= 2;
}

// One X device's mapping: onto one display, or spread over several.
void CheckMapping(const XTouchDevice& device, const X11Output* outputs, int outputCount,
                  std::int32_t width, std::int32_t height, int index, DoctorSection* section) {
    char name[160];
    std::snprintf(name, sizeof name, "X device \"%s\" (id %d)", device.name, device.id);
    if (!device.hasMatrix) {
        Add(section, "mapping", DoctorVerdict::kNote, std::string(name) + " has no transformation matrix");
        return;
    }
    const DisplayArea mapped = MappedArea(device.matrix, width, height);
    for (int i = 0; i < outputCount && i < kMostAreas; ++i) {
        if (Near(mapped, outputs[i].area)) {
            Add(section, "mapping", DoctorVerdict::kOk,
                std::string(name) + " maps the touch onto " + outputs[i].name + " (" +
                    AreaText(outputs[i].area) + ")");
            return;
        }
    }
    char advice[256];
    std::snprintf(advice, sizeof advice,
                  "calibrate with kelcalib --index %d --display N (N as kelcalib --list-displays "
                  "numbers it): it maps the touch onto that display and prints the X configuration "
                  "that keeps it there",
                  index);
    if (IsIdentityMatrix(device.matrix)) {
        Add(section, "mapping", DoctorVerdict::kProblem,
            std::string(name) + " spreads the touch over the whole desktop of " +
                std::to_string(outputCount) + " displays",
            advice);
    } else {
        Add(section, "mapping", DoctorVerdict::kProblem,
            std::string(name) + " maps the touch onto " + AreaText(mapped) +
                ", which no display shows",
            advice);
    }
}

// The driver's own corrections on the X device.
void CheckDriverCalibration(const XTouchDevice& device, DoctorSection* section) {
    char text[300];
    if (device.libinputCalibration) {
        const double* m = device.libinputMatrix;
        std::snprintf(text, sizeof text,
                      "X device \"%s\" has the libinput calibration matrix %g %g %g %g %g %g", device.name,
                      m[0], m[1], m[2], m[3], m[4], m[5]);
        Add(section, "X driver calibration", DoctorVerdict::kProblem, text,
            "remove the CalibrationMatrix option or LIBINPUT_CALIBRATION_MATRIX that sets it; the "
            "controller's firmware calibrates");
    }
    if (device.evdevCalibration) {
        const std::int32_t* a = device.evdevAxes;
        std::snprintf(text, sizeof text, "X device \"%s\" has the evdev axis calibration %d %d %d %d",
                      device.name, a[0], a[1], a[2], a[3]);
        Add(section, "X driver calibration", DoctorVerdict::kProblem, text,
            "remove the Calibration option from X's configuration (or set the property to nothing); "
            "the controller's firmware calibrates");
    }
}

void CheckX(const EventDevices& events, int index, DoctorSection* section) {
    const char* name = std::getenv("DISPLAY");
    const bool wayland = std::getenv("WAYLAND_DISPLAY") != nullptr;
    if (name == nullptr || name[0] == '\0') {
        Add(section, "mapping", DoctorVerdict::kNote,
            wayland ? "a Wayland session: the compositor maps the touch to a display (kelcalib prints "
                      "its setting after a calibration)"
                    : "no X display (DISPLAY is not set): the mapping was not read");
        return;
    }
    Display* x = XOpenDisplay(nullptr);
    if (x == nullptr) {
        Add(section, "mapping", DoctorVerdict::kNote,
            "the X display " + Printable(name) + " cannot be opened: the mapping was not read");
        return;
    }
    // Matrices a calibration left changed when it ended without putting them
    // back (killed, crashed): back to what it saved, before they are judged.
    char restored[kMostRestoredNames][96];
    const int putBack = RestoreLeftXMatrices(x, restored);
    for (int i = 0; i < putBack; ++i) {
        Add(section, "left mapping", DoctorVerdict::kNote,
            std::string("a calibration ended without putting the touch mapping back; doctor put the "
                        "matrix of X device \"") +
                restored[i] + "\" back as it was before that calibration");
    }
    if (ScreenCount(x) > 1) {
        Add(section, "mapping", DoctorVerdict::kNote,
            "the X display has " + std::to_string(ScreenCount(x)) +
                " screens: a matrix spans them all, and X does not tell how they lie, so the mapping "
                "was not judged");
        XCloseDisplay(x);
        return;
    }
    XTouchDevices found;
    FindXTouchDevices(x, events, &found);
    if (found.count == 0) {
        if (wayland) {
            Add(section, "mapping", DoctorVerdict::kNote,
                "Xwayland: the compositor reads the touch and maps it to a display");
        } else {
            Add(section, "X device", DoctorVerdict::kProblem,
                std::string("no X input device reads ") + events.path[0] +
                    ": the touch moves no cursor under X",
                "let an X input driver (xserver-xorg-input-libinput or -evdev) take the event device; "
                "the X server's log says why it did not");
        }
    }
    X11Output outputs[kMostAreas];
    const int outputCount = X11ShownAreas(x, outputs, kMostAreas);
    std::int32_t width = 0;
    std::int32_t height = 0;
    X11DesktopSize(x, &width, &height);
    for (int i = 0; i < found.count; ++i) {
        CheckMapping(found.device[i], outputs, outputCount, width, height, index, section);
        CheckDriverCalibration(found.device[i], section);
    }
    XCloseDisplay(x);
}

// The findings about one controller, or one node that may be one but
// cannot be opened.
DoctorSection CheckController(const CtlOptions& options, const HidInterfaceInfo& info, int index) {
    DoctorSection section;
    section.index = info.ours ? index : -1;
    char title[600];
    if (info.ours) {
        std::snprintf(title, sizeof title, "controller %d: %s (%s, %04X:%04X)", index, info.path,
                      info.name[0] != '\0' ? info.name : "no name", info.vendorId, info.productId);
    } else {
        std::snprintf(title, sizeof title, "%s: a controller that cannot be opened", info.path);
    }
    section.title = title;
    if (info.ours) {
        Add(&section, "access", DoctorVerdict::kOk, std::string("this user opens ") + info.path);
        if (!OpenTouchDevice(options.vendorId, static_cast<std::uint16_t>(index))) {
            char why[1024] = "";
            DescribeOpenProblem(why, sizeof why);
            Add(&section, "in use", DoctorVerdict::kNote, why[0] != '\0' ? why : "it could not be opened now");
        }
        CloseTouchDevice();
    } else {
        char advice[1024] = "";
        DescribePermissionProblem(advice, sizeof advice);
        Add(&section, "access", DoctorVerdict::kProblem,
            std::string(info.path) + " " + info.problem + ": this user cannot calibrate",
            advice[0] != '\0' ? advice : "install the udev rule (see the udev rule check)");
    }
    CheckUdevRule(options.vendorId, &section);
    unsigned node = 0;
    EventDevices events{};
    if (HidrawNodeNumber(info.path, &node)) HidrawEventDevices(node, &events);
    if (events.count == 0) {
        Add(&section, "input device", DoctorVerdict::kProblem,
            "the kernel made no input device from the controller: its touches reach no cursor",
            "the kernel's HID input layer must take the controller (hid-generic or hid-multitouch; "
            "dmesg names the device), and the controller must declare an input report");
        return section;
    }
    std::string list;
    for (int i = 0; i < events.count; ++i) {
        char name[128];
        EventDeviceName(events.path[i], name, sizeof name);
        list += (i > 0 ? ", " : "") + std::string(events.path[i]) + (name[0] ? " (" + std::string(name) + ")" : "");
    }
    Add(&section, "input device", DoctorVerdict::kOk, list);
    CheckX(events, index, &section);
    CheckUdevCalibration(options.vendorId, events, &section);
    return section;
}

}  // namespace

int RunDoctor(const CtlOptions& options) {
    bool listed = false;
    const std::vector<HidInterfaceInfo> interfaces = ListAllHidInterfaces(options.vendorId, &listed);
    if (!listed) {
        std::fprintf(stderr, "kelcalib-ctl: cannot read the system's list of HID devices\n");
        return kCtlExitDevice;
    }
    std::vector<DoctorSection> sections;
    int index = 0;
    for (const HidInterfaceInfo& info : interfaces) {
        // Ours, or refused before its vendor ID could be read from it and
        // of our vendor ID (or of none) as sysfs tells it.
        const bool refused = !info.queried && (info.vendorId == options.vendorId || info.vendorId == 0);
        if (!info.ours && !refused) continue;
        if (!options.indexGiven || index == options.index) {
            sections.push_back(CheckController(options, info, index));
        }
        if (info.ours) ++index;
    }
    if (sections.empty()) {
        // Nothing to look at is the first problem to solve, with its steps.
        DoctorSection missing;
        missing.index = -1;
        char what[96];
        std::snprintf(what, sizeof what, "no controller with vendor ID 0x%04X%s%s", options.vendorId,
                      options.indexGiven ? " at index " : "",
                      options.indexGiven ? std::to_string(options.index).c_str() : "");
        missing.title = "the controller";
        Add(&missing, "controller", DoctorVerdict::kProblem, what,
            "see every HID device and why it is not one with 'kelcalib-ctl list --all'; a controller "
            "of another vendor ID is found with --vid VID (kelcalib --vid VID calibrates it); one "
            "this user may not open needs the udev rule that grants access "
            "(/lib/udev/rules.d/70-kelcalib.rules, installed by the package), then replug it");
        sections.push_back(missing);
    }
    DoctorSection system;
    system.index = -1;
    system.title = "every input device";
    CheckSystemCorrections(&system);
    sections.push_back(system);
    const int problems = PrintDoctorReport(options.json, sections);
    return problems > 0 ? kCtlExitProblems : kCtlExitOk;
}
