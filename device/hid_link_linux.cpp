#include "device/hid_link_linux.h"

#include <cstring>

namespace {

constexpr int kLinks = 16;

struct Links {
    HidLink link[kLinks];
    bool initialised;
};

Links gLinks = {};

HidLink* Slot(int fd) {
    if (!gLinks.initialised) {
        for (HidLink& link : gLinks.link) link.fd = -1;
        gLinks.initialised = true;
    }
    for (HidLink& link : gLinks.link) {
        if (link.fd == fd) return &link;
    }
    return nullptr;
}

}  // namespace

bool KeepHidLink(int fd, bool reportIdsDeclared, const std::uint16_t featureLengths[256]) {
    if (fd < 0) return false;
    HidLink* link = Slot(fd);
    if (link == nullptr) link = Slot(-1);
    if (link == nullptr) return false;
    link->fd = fd;
    link->reportIdsDeclared = reportIdsDeclared;
    std::memcpy(link->featureLengths, featureLengths, sizeof link->featureLengths);
    return true;
}

const HidLink* FindHidLink(int fd) {
    return fd < 0 ? nullptr : Slot(fd);
}

void ForgetHidLink(int fd) {
    HidLink* link = fd < 0 ? nullptr : Slot(fd);
    if (link != nullptr) link->fd = -1;
}
