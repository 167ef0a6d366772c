// The virtual hidraw devices of the interposer: the config they come from,
// their /dev entries and node numbers, the descriptors open on them, and
// the answers to their ioctls. Thread-safe; the libc entry points in
// vc_hidraw_libc.cpp are its only callers.
#ifndef KELCALIB_TOOLS_VC_HIDRAW_DEVICES_H
#define KELCALIB_TOOLS_VC_HIDRAW_DEVICES_H

#include <string>
#include <vector>

// Environment: the config file, the number of the first node, the entries
// whose open is refused.
constexpr const char* kVcHidrawFirstVariable = "KELCALIB_VC_HIDRAW_FIRST";
constexpr const char* kVcHidrawDenyVariable = "KELCALIB_VC_HIDRAW_DENY";

enum class VcHidrawPath {
    kOther,   // not ours: the real file system answers
    kNode,    // /dev/hidrawN of a virtual device
    kUevent,  // /sys/class/hidraw/hidrawN/device/uevent of a virtual device
};

// True for "/dev" and "/dev/".
bool VcHidrawIsDevDirectory(const char* path);

// The names a listing of /dev shows: ".", "..", a few names that are not
// hidraw nodes, and the virtual nodes in descending number order (so a
// reader must sort them). Re-reads the config first when its file changed.
std::vector<std::string> VcHidrawDevListing();

// What `path` is, and for a device the entry (its index in the config's
// device order).
VcHidrawPath VcHidrawClassify(const char* path, int* entry);

// The open of this entry's node is refused with EACCES.
bool VcHidrawDenied(int entry);

// The text of the entry's sysfs uevent file (HID_ID, HID_NAME).
std::string VcHidrawUevent(int entry);

// Descriptors open on virtual nodes. Removing one closes the lock file
// VcHidrawFlock opened for it.
void VcHidrawAddFd(int fd, int entry);
void VcHidrawRemoveFd(int fd);
int VcHidrawEntryOfFd(int fd);  // -1: not a virtual node
int VcHidrawOpenFdCount();

// Answers an ioctl on a virtual node like the kernel's hidraw driver: the
// result, or -1 with errno set. Feature transfers go to the model (report
// IDs the controller refuses fail with EPIPE, a wrong length with EINVAL, a
// gone controller with ENODEV) and a "slow" controller takes its time.
int VcHidrawIoctl(int entry, unsigned long request, void* argument);

// flock on a virtual node's descriptor. A virtual descriptor is an eventfd,
// and all eventfds share one inode, so their locks would all be one lock;
// the lock is instead taken on a file of the node's own beside the config
// (CONFIG.hidrawN.lock), opened for that descriptor, so that two processes
// using the same config contend for each node as for a kernel's node.
int VcHidrawFlock(int fd, int operation);

// fcntl's record locks (F_SETLK, F_OFD_SETLK and their GETLK and waiting
// forms) on a virtual node's descriptor, taken on the same lock file.
int VcHidrawFcntlLock(int fd, int cmd, void* argument);

// Re-reads the config and starts every device afresh. False when the
// config cannot be read (there are then no devices).
bool VcHidrawReload();

#endif  // KELCALIB_TOOLS_VC_HIDRAW_DEVICES_H
