// The touch file of vc-uhid (format in vc_uhid_touch.h).
#include "tools/virtual-controller/uhid/vc_uhid_touch.h"

#include "tools/virtual-controller/vc_descriptor.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

VcTouch NoTouch() { return VcTouch{0, 0, 1024, 768, false}; }

}  // namespace

bool ParseTouch(const std::string& text, VcTouch* touch) {
    std::istringstream in(text);
    std::string first;
    if (!(in >> first)) {
        *touch = NoTouch();
        return true;
    }
    if (first == "none") {
        std::string rest;
        if (in >> rest) return false;
        *touch = NoTouch();
        return true;
    }
    std::istringstream number(first);
    long values[4] = {0, 0, 1024, 768};
    if (!(number >> values[0]) || !number.eof()) return false;
    int count = 1;
    std::string word;
    while (in >> word) {
        if (count == 4) return false;
        std::istringstream next(word);
        if (!(next >> values[count]) || !next.eof()) return false;
        ++count;
    }
    if (count != 2 && count != 4) return false;
    for (long v : values) {
        if (v < 0 || v > 65535) return false;
    }
    if (values[2] == 0 || values[3] == 0) return false;
    *touch = VcTouch{static_cast<std::int32_t>(values[0]), static_cast<std::int32_t>(values[1]),
                     static_cast<std::int32_t>(values[2]), static_cast<std::int32_t>(values[3]), true};
    return true;
}

VcTouch ReadTouch(const std::string& path) {
    if (path.empty()) return VcTouch{0, 0, 1024, 768, true};
    std::ifstream file(path);
    if (!file) return NoTouch();
    std::ostringstream text;
    text << file.rdbuf();
    VcTouch touch = NoTouch();
    if (!ParseTouch(text.str(), &touch)) {
        std::fprintf(stderr, "vc-uhid: %s: expected 'X Y', 'X Y W H' or 'none'\n", path.c_str());
        return NoTouch();
    }
    return touch;
}

void LatchTouch(TouchLatch* latch, const VcTouch& finger, std::uint64_t nowMs) {
    if (finger.touching) {
        latch->last = finger;
        latch->everTouched = true;
        latch->down = true;
    } else if (latch->down) {
        latch->down = false;
        latch->liftedAtMs = nowMs;
    }
}

VcTouch ReportedTouch(const TouchLatch& latch, std::uint64_t nowMs) {
    if (latch.down || (latch.everTouched && nowMs - latch.liftedAtMs < kLiftLingerMs)) {
        VcTouch touch = latch.last;
        touch.touching = true;
        return touch;
    }
    return NoTouch();
}

bool TouchInputReport(const VcSystem& system, const VcDeviceInfo& info, const TouchLatch& latch,
                      std::vector<std::uint8_t>* report) {
    if (!info.isController || !latch.everTouched) return false;
    const int controller = info.controllerIndex;
    if (controller < 0 || controller >= static_cast<int>(system.controllers.size()) ||
        system.controllers[static_cast<std::size_t>(controller)].gone) {
        return false;
    }
    VcLanding landing;
    if (!VcWhereTouchLands(system, controller, latch.last, &landing)) return false;
    return VcTouchInputReport(info, latch.down, landing.deviceX, landing.deviceY, report);
}
