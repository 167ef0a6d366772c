// The kernel's hidraw nodes, as the controller open (hid_device_linux.cpp)
// and the interface listing (hid_enumerate_linux.cpp) both visit them, and
// the note of what stood in the way of the last open.
#ifndef KELCALIB_DEVICE_HIDRAW_LINUX_H
#define KELCALIB_DEVICE_HIDRAW_LINUX_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/hid_descriptor.h"
#include "device/hid_enumerate.h"

// The numbers N of the /dev/hidrawN nodes, ascending. False when /dev
// cannot be read.
bool ListHidrawNodes(std::vector<unsigned>* numbers);

// "/dev/hidrawN" into `path`.
void HidrawPath(unsigned number, char* path, std::size_t size);

// Opens the node read-write, close-on-exec: the descriptor, or -1 with the
// errno value in `error`.
int OpenHidrawNode(unsigned number, int* error);

// Vendor and product ID from HIDIOCGRAWINFO.
bool ReadHidrawIds(int fd, std::uint16_t* vendorId, std::uint16_t* productId);

// The product name from HIDIOCGRAWNAME, taken in as printable text
// (device/name_text.h); empty when the device has none.
void ReadHidrawName(int fd, char* name, std::size_t size);

// The report descriptor parsed: through HIDIOCGRDESCSIZE and HIDIOCGRDESC,
// or, where the ioctl cannot give it (the kernel hands out at most 4095
// bytes; a descriptor may have 4096), from the node's device in sysfs
// (/sys/dev/char/MAJOR:MINOR/device/report_descriptor). On false
// `summary->problem` says why (a read that failed, or the parser's reason).
bool ReadHidrawDescriptor(int fd, HidDescriptorSummary* summary);

// True when the kernel says the node's device is gone (ENODEV): it was
// unplugged, while the node is still open here. A transfer may fail with
// EIO for a moment before that.
bool HidrawNodeGone(int fd);

// Takes the advisory lock every program of this project takes on the
// controller's node it talks to, so that two of them never interleave their
// commands: a write lock of the open file description (fcntl F_OFD_SETLK,
// without waiting), which only a descriptor open for writing can take. A
// program that may only read the node can hold no more than a read lock;
// such locks are passed by (the node is then used without a lock of ours).
// 0, or the errno value (EWOULDBLOCK: a program that may write holds it).
int LockHidrawNode(int fd);

// Opens the controller at /dev/hidrawN itself into gSession (as
// OpenTouchDevice does for a match index), filling `info` with what the
// node tells (path, name, IDs, and why it could not be opened). The note
// of DescribeOpenProblem holds a permission, descriptor or in-use problem.
enum class NodeOpen { kOpened, kAbsent, kNotOurs, kRefused };
NodeOpen OpenTouchDeviceAtNode(std::uint16_t vendorId, unsigned node, HidInterfaceInfo* info);

// The vendor ID sysfs gives for a node (HID_ID of its device's uevent),
// readable without opening the node; -1 when unknown.
int SysfsVendorId(unsigned number);

// True for errno values that mean the user may not open the node.
bool IsPermissionError(int error);

// The note DescribeOpenProblem reports from.
void ClearOpenProblem();
// Keeps the first node refused for lack of permission whose vendor ID is
// `vendorId` or unknown.
void NotePermissionProblem(unsigned number, int error, std::uint16_t vendorId);
// The controller's descriptor could not be read or was refused.
void NoteDescriptorProblem(unsigned number, const char* problem);
// Another program holds the controller's node (LockHidrawNode).
void NoteInUseProblem(unsigned number);
// True when what stood in the way of the last open was only a node this
// user may not open (no descriptor problem, not in use).
bool OpenDeniedAccess();

#endif  // KELCALIB_DEVICE_HIDRAW_LINUX_H
