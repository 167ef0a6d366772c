// What the Linux link knows of each controller node it holds open, as the
// Windows HID class knows it of a collection: whether the collection the
// protocol talks through declares report IDs, and each feature report's
// length there (report-ID byte included; 0: none). One record per open
// node, kept from the open to the close; the transfers find theirs by the
// descriptor they are handed, so a program with several controllers open
// (kelcalib --identify) points gSession.device at one and the rest follows.
#ifndef KELCALIB_DEVICE_HID_LINK_LINUX_H
#define KELCALIB_DEVICE_HID_LINK_LINUX_H

#include <cstdint>

struct HidLink {
    int fd;  // -1: a free record
    bool reportIdsDeclared;
    std::uint16_t featureLengths[256];
};

// Keeps the record of the node open on `fd`; false when as many controllers
// are open already as the link keeps records for (16).
bool KeepHidLink(int fd, bool reportIdsDeclared, const std::uint16_t featureLengths[256]);

// The record of `fd`; null when the link holds none for it.
const HidLink* FindHidLink(int fd);

// Drops the record of `fd` (its node is being closed).
void ForgetHidLink(int fd);

#endif  // KELCALIB_DEVICE_HID_LINK_LINUX_H
