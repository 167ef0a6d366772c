#include "display/mapping_advice.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "device/name_text.h"

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

// A name for a text, or a stand-in where it is not printable text.
const char* Shown(const char* name) {
    return name != nullptr && IsPrintableText(name) ? name : "(a name with control bytes)";
}

// A place a udev rule can match as it is: letters, digits and . _ : / + @ -
// only (no quote, no glob character), 1 to `most` of them.
bool IsLiteralPlace(const char* text, std::size_t most) {
    if (text == nullptr) return false;
    const std::size_t length = std::strlen(text);
    if (length == 0 || length > most) return false;
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (!std::isalnum(c) && std::strchr("._:/+@-", c) == nullptr) return false;
    }
    return true;
}

// The output's name for a step's syntax: `quote` wraps it in double quotes
// with backslash escapes (sway); without, it must hold no space, quote,
// backslash or '#' (a udev value, a hyprland value). OUTPUT where it is
// empty or cannot be written so.
void OutputFor(const char* name, bool quote, char* out, std::size_t size) {
    const bool printable = name != nullptr && name[0] != '\0' && IsPrintableText(name);
    if (printable && !quote && std::strpbrk(name, " \t\"\\#") == nullptr) {
        std::snprintf(out, size, "%s", name);
        return;
    }
    if (!printable) {
        std::snprintf(out, size, quote ? "\"OUTPUT\"" : "OUTPUT");
        return;
    }
    if (!quote) {
        std::snprintf(out, size, "OUTPUT");
        return;
    }
    std::size_t n = 0;
    if (n + 1 < size) out[n++] = '"';
    for (const char* p = name; *p != '\0' && n + 3 < size; ++p) {
        if (*p == '"' || *p == '\\') out[n++] = '\\';
        out[n++] = *p;
    }
    if (n + 1 < size) out[n++] = '"';
    out[n] = '\0';
}

}  // namespace

const char kPersistMarker[] = "# Written by kelcalib --persist, which replaces it; remove it to undo.";

bool PersistFilesFor(const MappingSubject& subject, PersistFiles* files) {
    if (!IsLiteralPlace(subject.place, 120) || !(subject.uniq == nullptr || subject.uniq[0] == '\0' ||
                                                 IsLiteralPlace(subject.uniq, 60))) {
        return false;
    }
    // FNV-1a over everything the rule matches on.
    char key[256];
    std::snprintf(key, sizeof key, "%04x:%04x|%s|%s|%s", static_cast<unsigned>(subject.vendorId),
                  static_cast<unsigned>(subject.productId), subject.placeByIdPath ? "ID_PATH" : "phys",
                  subject.place, subject.uniq != nullptr ? subject.uniq : "");
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char* p = key; *p != '\0'; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 0x100000001b3ull;
    }
    const unsigned long long h = hash;
    const unsigned v = subject.vendorId;
    const unsigned p = subject.productId;
    std::snprintf(files->tag, sizeof files->tag, "kelcalib_%016llx", h);
    std::snprintf(files->rulePath, sizeof files->rulePath,
                  "/etc/udev/rules.d/71-kelcalib-%04x-%04x-%016llx.rules", v, p, h);
    std::snprintf(files->snippetPath, sizeof files->snippetPath,
                  "/etc/X11/xorg.conf.d/99-kelcalib-%04x-%04x-%016llx.conf", v, p, h);
    return true;
}

bool FormatUdevTagRule(const MappingSubject& subject, const PersistFiles& files, char* text,
                       std::size_t size) {
    if (size == 0) return false;
    char where[256];
    if (subject.placeByIdPath) {
        std::snprintf(where, sizeof where, "ENV{ID_PATH}==\"%s\"", subject.place);
    } else if (subject.uniq != nullptr && subject.uniq[0] != '\0') {
        std::snprintf(where, sizeof where, "ATTRS{phys}==\"%s\", ATTRS{uniq}==\"%s\"", subject.place,
                      subject.uniq);
    } else {
        std::snprintf(where, sizeof where, "ATTRS{phys}==\"%s\"", subject.place);
    }
    const unsigned v = subject.vendorId;
    const unsigned p = subject.productId;
    const int written = std::snprintf(
        text, size,
        "%s\n"
        "# The touch controller %04x:%04x (%s) attached at %s %s: its input\n"
        "# device gets the tag %s, by which %s\n"
        "# gives it the touch mapping.\n"
        "ACTION!=\"remove\", SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{id/vendor}==\"%04x\", "
        "ATTRS{id/product}==\"%04x\", %s, ENV{ID_INPUT.tags}=\"$env{ID_INPUT.tags},%s\"\n",
        kPersistMarker, v, p, Shown(subject.inputName), subject.placeByIdPath ? "ID_PATH" : "phys",
        subject.place, files.tag, files.snippetPath, v, p, where, files.tag);
    return Fits(written, size);
}

bool FormatXorgSnippet(const MappingSubject& subject, const PersistFiles& files,
                       const double matrix[9], char* text, std::size_t size) {
    if (size == 0) return false;
    const int written = std::snprintf(
        text, size,
        "%s\n"
        "# The touch controller %04x:%04x (%s) attached at %s %s, mapped\n"
        "# onto the display %s. The matrix holds for the displays' present layout.\n"
        "# The udev rule %s gives its input device the tag.\n"
        "Section \"InputClass\"\n"
        "    Identifier \"%s\"\n"
        "    MatchTag \"%s\"\n"
        "    MatchDevicePath \"/dev/input/event*\"\n"
        "    Option \"TransformationMatrix\" \"%.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g %.6g\"\n"
        "EndSection\n",
        kPersistMarker, static_cast<unsigned>(subject.vendorId), static_cast<unsigned>(subject.productId),
        Shown(subject.inputName), subject.placeByIdPath ? "ID_PATH" : "phys", subject.place,
        Shown(subject.outputName), files.rulePath, files.tag, files.tag, matrix[0], matrix[1],
        matrix[2], matrix[3], matrix[4], matrix[5], matrix[6], matrix[7], matrix[8]);
    return Fits(written, size);
}

void EarlierXorgSnippetPath(const MappingSubject& subject, char* path, std::size_t size) {
    std::snprintf(path, size, "/etc/X11/xorg.conf.d/99-kelcalib-%04x-%04x.conf",
                  static_cast<unsigned>(subject.vendorId), static_cast<unsigned>(subject.productId));
}

bool IsEarlierSnippetName(const char* name) {
    static const char kForm[] = "99-kelcalib-HHHH-HHHH.conf";
    if (std::strlen(name) != sizeof kForm - 1) return false;
    for (std::size_t i = 0; i < sizeof kForm - 1; ++i) {
        const bool hex = std::isxdigit(static_cast<unsigned char>(name[i])) != 0;
        if (kForm[i] == 'H' ? !hex : name[i] != kForm[i]) return false;
    }
    return true;
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
    // The output in prose, bare (a udev or hyprland value) and quoted (sway).
    const char* output = Shown(subject.outputName);
    char bare[80];
    char quoted[200];
    OutputFor(subject.outputName, false, bare, sizeof bare);
    OutputFor(subject.outputName, true, quoted, sizeof quoted);
    const char* input = Shown(subject.inputName);
    char name[160];
    int written = -1;
    // weston reads the output from the input device's udev property; the
    // rule matches the input device by the controller's IDs.
    const char* const kWestonRule =
        "  SUBSYSTEM==\"input\", KERNEL==\"event*\", ATTRS{id/vendor}==\"%04x\", "
        "ATTRS{id/product}==\"%04x\", ENV{WL_OUTPUT}=\"%s\"\n";
    char rule[256];
    std::snprintf(rule, sizeof rule, kWestonRule, vendor, product, bare);
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
                vendor, product, name, quoted);
            break;
        case Compositor::kHyprland:
            Identifier(subject.inputName, '-', true, name, sizeof name);
            written = std::snprintf(text, size,
                                    "In Hyprland, add to hyprland.conf:\n"
                                    "  device {\n    name = %s\n    output = %s\n  }\n",
                                    name, bare);
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
                input, output);
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
                input, vendor, product, output, rule);
            break;
    }
    return Fits(written, size);
}
