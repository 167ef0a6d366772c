#include "display/x11_touch_devices_linux.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <cstdio>
#include <cstring>

#include "display/display_mapping.h"
#include "device/name_text.h"

namespace {

constexpr char kMatrixProperty[] = "Coordinate Transformation Matrix";
constexpr char kNodeProperty[] = "Device Node";
constexpr char kLibinputCalibration[] = "libinput Calibration Matrix";
constexpr char kEvdevCalibration[] = "Evdev Axis Calibration";

// A BadMatch or BadValue from a device that refuses a property is an answer,
// not the end of the program (Xlib's default handler exits).
int gXError = 0;
XErrorHandler gPreviousHandler = nullptr;
int NoteXError(Display*, XErrorEvent* event) {
    gXError = event->error_code;
    return 0;
}

// Between these two, X errors are noted in gXError instead of ending the
// program; the second returns whether none came.
void CatchXErrors(Display* display) {
    XSync(display, False);
    gXError = 0;
    gPreviousHandler = XSetErrorHandler(NoteXError);
}

bool EndCatchingXErrors(Display* display) {
    XSync(display, False);
    XSetErrorHandler(gPreviousHandler);
    return gXError == 0;
}

// A property of `format` bits, at most `most` items of it, into `out`
// (XInput hands 32-bit items out as 32 bits). Returns the item count read.
int ReadProperty(Display* display, int id, const char* name, int format, int most, void* out,
                 std::size_t itemSize) {
    const Atom property = XInternAtom(display, name, True);
    if (property == None) return 0;
    Atom type = None;
    int gotFormat = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XIGetProperty(display, id, property, 0, most, False, AnyPropertyType, &type, &gotFormat,
                      &count, &after, &data) != Success) {
        return 0;
    }
    int items = 0;
    if (data != nullptr && gotFormat == format && count > 0) {
        items = static_cast<int>(count < static_cast<unsigned long>(most) ? count : most);
        std::memcpy(out, data, static_cast<std::size_t>(items) * itemSize);
    }
    if (data != nullptr) XFree(data);
    return items;
}

bool ReadFloats(Display* display, int id, const char* name, int want, double* values) {
    float floats[9] = {};
    if (want > 9 || ReadProperty(display, id, name, 32, want, floats, sizeof(float)) != want) {
        return false;
    }
    for (int i = 0; i < want; ++i) values[i] = floats[i];
    return true;
}

bool IsOneOf(const char* node, const EventDevices& events) {
    for (int i = 0; i < events.count; ++i) {
        if (std::strcmp(node, events.path[i]) == 0) return true;
    }
    return false;
}

void ReadCorrections(Display* display, XTouchDevice* device) {
    double calibration[9] = {};
    if (ReadFloats(display, device->id, kLibinputCalibration, 9, calibration) &&
        !IsIdentityMatrix(calibration)) {
        device->libinputCalibration = true;
        std::memcpy(device->libinputMatrix, calibration, sizeof device->libinputMatrix);
    }
    std::int32_t axes[4] = {};
    if (ReadProperty(display, device->id, kEvdevCalibration, 32, 4, axes, sizeof(std::int32_t)) == 4) {
        device->evdevCalibration = true;
        std::memcpy(device->evdevAxes, axes, sizeof axes);
    }
}

}  // namespace

void FindXTouchDevices(Display* display, const EventDevices& events, XTouchDevices* found) {
    found->count = 0;
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return;
    CatchXErrors(display);
    // A client announces its XInput 2 version once; SDL may have done so on
    // this connection already, and the server then answers another version
    // with an error that changes nothing.
    int major = 2;
    int minor = 2;
    XIQueryVersion(display, &major, &minor);
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    for (int i = 0; i < count && found->count < kMaxXTouchDevices; ++i) {
        XTouchDevice candidate{};
        candidate.id = devices[i].deviceid;
        if (ReadProperty(display, candidate.id, kNodeProperty, 8, sizeof candidate.node - 1,
                         candidate.node, 1) <= 0 ||
            !IsOneOf(candidate.node, events)) {
            continue;
        }
        TakeName(devices[i].name, candidate.name, sizeof candidate.name);
        candidate.hasMatrix = ReadFloats(display, candidate.id, kMatrixProperty, 9, candidate.matrix);
        ReadCorrections(display, &candidate);
        found->device[found->count++] = candidate;
    }
    if (devices != nullptr) XIFreeDeviceInfo(devices);
    EndCatchingXErrors(display);
}

bool ReadXTouchDevice(Display* display, int id, XTouchDevice* device) {
    *device = XTouchDevice{};
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
    CatchXErrors(display);
    int count = 0;
    XIDeviceInfo* info = XIQueryDevice(display, id, &count);
    const bool found = EndCatchingXErrors(display) && info != nullptr && count == 1;
    if (found) {
        device->id = id;
        TakeName(info[0].name, device->name, sizeof device->name);
        CatchXErrors(display);
        ReadProperty(display, id, kNodeProperty, 8, sizeof device->node - 1, device->node, 1);
        device->hasMatrix = ReadFloats(display, id, kMatrixProperty, 9, device->matrix);
        EndCatchingXErrors(display);
    }
    if (info != nullptr) XIFreeDeviceInfo(info);
    return found;
}

bool WriteXMatrix(Display* display, int deviceId, const double matrix[9]) {
    const Atom property = XInternAtom(display, kMatrixProperty, True);
    const Atom type = XInternAtom(display, "FLOAT", True);
    if (property == None || type == None) return false;
    float values[9];
    for (int i = 0; i < 9; ++i) values[i] = static_cast<float>(matrix[i]);
    CatchXErrors(display);
    XIChangeProperty(display, deviceId, property, type, 32, XIPropModeReplace,
                     reinterpret_cast<unsigned char*>(values), 9);
    return EndCatchingXErrors(display);
}
