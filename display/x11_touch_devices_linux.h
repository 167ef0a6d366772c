// The X input devices that carry one controller's touches, found by the
// "Device Node" property their input driver sets, with their coordinate
// transformation matrix and any calibration their driver applies on top of
// the firmware's.
#ifndef KELCALIB_DISPLAY_X11_TOUCH_DEVICES_LINUX_H
#define KELCALIB_DISPLAY_X11_TOUCH_DEVICES_LINUX_H

#include <cstdint>

#include "device/hidraw_sysfs_linux.h"

typedef struct _XDisplay Display;

constexpr int kMaxXTouchDevices = 8;

struct XTouchDevice {
    int id;
    char name[96];      // printable text (device/name_text.h)
    char node[32];      // its "Device Node": one of the controller's event devices
    bool hasMatrix;     // the coordinate transformation matrix could be read
    double matrix[9];
    // A second correction by the input driver: the libinput driver's
    // calibration matrix when it is not the identity, the evdev driver's
    // axis calibration when it is set (min x, max x, min y, max y).
    bool libinputCalibration;
    double libinputMatrix[6];
    bool evdevCalibration;
    std::int32_t evdevAxes[4];
};

struct XTouchDevices {
    int count;
    XTouchDevice device[kMaxXTouchDevices];
};

// Every X input device whose "Device Node" is one of `events`, in the X
// server's order, with what it holds now. A count of 0 when there is none
// or the X server has no XInput 2.
void FindXTouchDevices(Display* display, const EventDevices& events, XTouchDevices* found);

// The X input device `id` as it is now: its name, "Device Node" and
// matrix (no corrections). False when there is no such device.
bool ReadXTouchDevice(Display* display, int id, XTouchDevice* device);

// Sets a device's coordinate transformation matrix (and waits until the X
// server has taken it). False when the server refused it.
bool WriteXMatrix(Display* display, int deviceId, const double matrix[9]);

#endif  // KELCALIB_DISPLAY_X11_TOUCH_DEVICES_LINUX_H
