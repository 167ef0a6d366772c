#include "app/mapping_advice.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// True when `list` (names separated by ':', as XDG_CURRENT_DESKTOP holds
// them) names `name`, whatever the case.
bool NamesDesktop(const char* list, const char* name) {
    if (list == nullptr) return false;
    const std::size_t length = std::strlen(name);
    const char* p = list;
    while (*p != '\0') {
        const char* end = std::strchr(p, ':');
        const std::size_t part = end != nullptr ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (part == length) {
            bool same = true;
            for (std::size_t i = 0; i < length && same; ++i) {
                same = std::tolower(static_cast<unsigned char>(p[i])) ==
                       std::tolower(static_cast<unsigned char>(name[i]));
            }
            if (same) return true;
        }
        if (end == nullptr) break;
        p = end + 1;
    }
    return false;
}

// The input name as the compositor writes it: `space` for every character
// that is not a letter, digit or one of "-_.", `lower` for lower case.
void Identifier(const char* name, char space, bool lower, char* out, std::size_t size) {
    std::size_t n = 0;
    for (const char* p = name; *p != '\0' && n + 1 < size; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool keep = std::isalnum(c) || c == '-' || c == '_' || c == '.';
        out[n++] = keep ? static_cast<char>(lower ? std::tolower(c) : c) : space;
    }
    out[n] = '\0';
}

bool Fits(int written, std::size_t size) {
    return written >= 0 && static_cast<std::size_t>(written) < size;
}

}  // namespace

void XorgSnippetPath(const MappingSubject& subject, char* path, std::size_t size) {
    std::snprintf(path, size, "/etc/X11/xorg.conf.d/99-kelcalib-%04x-%04x.conf",
                  static_cast<unsigned>(subject.vendorId), static_cast<unsigned>(subject.productId));
}

bool FormatXorgSnippet(const MappingSubject& subject, const double matrix[9], char* text,
                       std::size_t size) {
    if (size == 0) return false;
    const int written = std::snprintf(
        text, size,
        "# The touch controller %04x:%04x (%s) mapped onto the display %s,\n"
        "# written by kelcalib. The matrix holds for the displays' present layout.\n"
        "Section \"InputClass\"\n"
        "    Identifier \"kelcalib %04x:%04x\"\n"
        "    MatchUSBID \"%04x:%04x\"\n"
        "    MatchDevicePath \"/dev/input/event*\"\n"
        "    Option \"TransformationMatrix\" \"%.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g\"\n"
        "EndSection\n",
        subject.vendorId, subject.productId, subject.inputName, subject.outputName,
        subject.vendorId, subject.productId, subject.vendorId, subject.productId, matrix[0],
        matrix[1], matrix[2], matrix[3], matrix[4], matrix[5], matrix[6], matrix[7], matrix[8]);
    return Fits(written, size);
}

Compositor DetectCompositor(const char* currentDesktop, const char* sessionDesktop,
                            bool swaySocket, bool hyprlandSignature) {
    if (swaySocket) return Compositor::kSway;
    if (hyprlandSignature) return Compositor::kHyprland;
    const char* const lists[2] = {currentDesktop, sessionDesktop};
    for (const char* list : lists) {
        if (NamesDesktop(list, "sway")) return Compositor::kSway;
        if (NamesDesktop(list, "Hyprland")) return Compositor::kHyprland;
        if (NamesDesktop(list, "GNOME")) return Compositor::kGnome;
        if (NamesDesktop(list, "KDE")) return Compositor::kKde;
        if (NamesDesktop(list, "weston")) return Compositor::kWeston;
    }
    return Compositor::kUnknown;
}

bool FormatCompositorStep(Compositor compositor, const MappingSubject& subject, char* text,
                          std::size_t size) {
    if (size == 0) return false;
    const unsigned vendor = subject.vendorId;
    const unsigned product = subject.productId;
    const char* output = subject.outputName;
    char name[160];
    int written = -1;
    // weston reads the output from the input device's udev property; the
    // rule matches the input device by the controller's IDs.
    const char* const kWestonRule =
        "  SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{id/vendor}==\"%04x\", "
        "ATTRS{id/product}==\"%04x\", ENV{WL_OUTPUT}=\"%s\"\n";
    char rule[256];
    std::snprintf(rule, sizeof rule, kWestonRule, vendor, product, output);
    switch (compositor) {
        case Compositor::kSway:
            // sway names inputs vendor:product:name, the IDs in decimal and
            // the name's spaces as underscores.
            Identifier(subject.inputName, '_', false, name, sizeof name);
            written = std::snprintf(
                text, size,
                "In sway, tie the touch screen to the output (and put the same line, without\n"
                "\"swaymsg\", in ~/.config/sway/config to keep it):\n"
                "  swaymsg input \"%u:%u:%s\" map_to_output %s\n",
                vendor, product, name, output);
            break;
        case Compositor::kHyprland:
            Identifier(subject.inputName, '-', true, name, sizeof name);
            written = std::snprintf(text, size,
                                    "In Hyprland, add to hyprland.conf:\n"
                                    "  device {\n    name = %s\n    output = %s\n  }\n",
                                    name, output);
            break;
        case Compositor::kGnome:
            written = std::snprintf(
                text, size,
                "In GNOME, tie the touch screen to the monitor on %s (its vendor, product and\n"
                "serial as its EDID gives them):\n"
                "  gsettings set org.gnome.desktop.peripherals.touchscreen:/org/gnome/desktop/"
                "peripherals/touchscreens/%04x:%04x/ output \"['VENDOR', 'PRODUCT', 'SERIAL']\"\n",
                output, vendor, product);
            break;
        case Compositor::kKde:
            written = std::snprintf(
                text, size,
                "In KDE Plasma, open System Settings, Touchscreen, choose \"%s\" and set its\n"
                "target display to %s.\n",
                subject.inputName, output);
            break;
        case Compositor::kWeston:
            written = std::snprintf(text, size,
                                    "For weston, save this udev rule as "
                                    "/etc/udev/rules.d/71-kelcalib-output.rules,\n"
                                    "run udevadm control --reload && udevadm trigger, and "
                                    "restart weston:\n%s",
                                    rule);
            break;
        case Compositor::kUnknown:
            written = std::snprintf(
                text, size,
                "Tie the touch device \"%s\" (%04x:%04x) to the output %s in the compositor's\n"
                "input settings. A compositor that reads the output from udev (weston) takes\n"
                "this rule in /etc/udev/rules.d/71-kelcalib-output.rules:\n%s",
                subject.inputName, vendor, product, output, rule);
            break;
    }
    return Fits(written, size);
}
