/* X input device properties for the Linux scenarios, where the X server has
   no real touch device: plants the "Device Node" property an input driver
   sets (so a test device stands for an event device of the controller) and
   float properties such as a driver's calibration, and prints a device's
   coordinate transformation matrix.

     x-input-props set-node DEVICE PATH            DEVICE: an X input device's name,
                                                   or its "Device Node" (/dev/input/...)
     x-input-props set-floats DEVICE PROPERTY V... creates or replaces PROPERTY
     x-input-props matrix DEVICE                   nine numbers on one line

   Exits 0 when done, 1 when the device or property is not there, 2 for a bad
   command line. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* True when the device's "Device Node" property is `node`. */
static int has_node(Display* display, int id, const char* node) {
    Atom property = XInternAtom(display, "Device Node", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = NULL;
    int same = 0;
    if (property != None &&
        XIGetProperty(display, id, property, 0, 64, False, AnyPropertyType, &type, &format, &count, &after,
                      &data) == Success && data != NULL && format == 8) {
        same = strlen(node) == count && memcmp(data, node, count) == 0;
    }
    if (data != NULL) XFree(data);
    return same;
}

static int find_device(Display* display, const char* name) {
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
    int id = -1;
    const int by_node = strncmp(name, "/dev/input/", 11) == 0;
    for (int i = 0; i < count && id < 0; ++i) {
        if (by_node ? has_node(display, devices[i].deviceid, name) : strcmp(devices[i].name, name) == 0) {
            id = devices[i].deviceid;
        }
    }
    XIFreeDeviceInfo(devices);
    return id;
}

static int print_matrix(Display* display, int id) {
    Atom property = XInternAtom(display, "Coordinate Transformation Matrix", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = NULL;
    if (property == None ||
        XIGetProperty(display, id, property, 0, 9, False, AnyPropertyType, &type, &format, &count,
                      &after, &data) != Success ||
        format != 32 || count != 9) {
        if (data != NULL) XFree(data);
        fprintf(stderr, "x-input-props: no transformation matrix\n");
        return 1;
    }
    const float* values = (const float*)data;
    for (int i = 0; i < 9; ++i) printf(i ? " %.6g" : "%.6g", values[i]);
    printf("\n");
    XFree(data);
    return 0;
}

static void set_floats(Display* display, int id, const char* name, int count, char** values) {
    float numbers[16];
    for (int i = 0; i < count && i < 16; ++i) numbers[i] = (float)atof(values[i]);
    XIChangeProperty(display, id, XInternAtom(display, name, False), XInternAtom(display, "FLOAT", False),
                     32, XIPropModeReplace, (unsigned char*)numbers, count < 16 ? count : 16);
}

int main(int argc, char** argv) {
    const int setNode = argc == 4 && strcmp(argv[1], "set-node") == 0;
    const int setFloats = argc >= 5 && strcmp(argv[1], "set-floats") == 0;
    const int matrix = argc == 3 && strcmp(argv[1], "matrix") == 0;
    if (!setNode && !setFloats && !matrix) {
        fprintf(stderr, "usage: x-input-props set-node DEVICE PATH | set-floats DEVICE PROPERTY V... | "
                        "matrix DEVICE\n");
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x-input-props: cannot open the display\n");
        return 1;
    }
    int status = 1;
    const int id = find_device(display, argv[2]);
    if (id < 0) {
        fprintf(stderr, "x-input-props: no input device '%s'\n", argv[2]);
    } else if (matrix) {
        status = print_matrix(display, id);
    } else if (setFloats) {
        set_floats(display, id, argv[3], argc - 4, argv + 4);
        XSync(display, False);
        status = 0;
    } else {
        Atom property = XInternAtom(display, "Device Node", False);
        XIChangeProperty(display, id, property, XA_STRING, 8, XIPropModeReplace,
                         (unsigned char*)argv[3], (int)strlen(argv[3]));
        XSync(display, False);
        status = 0;
    }
    XCloseDisplay(display);
    return status;
}
