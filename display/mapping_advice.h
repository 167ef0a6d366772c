// What the user is told to make a touch-to-display mapping last: on X11 the
// udev rule that tags the one controller's input device by where it is
// attached and the X configuration that gives that tag the matrix, and on
// Wayland the one setting of the compositor in use. Portable texts; the
// Linux program fills in the facts.
#ifndef KELCALIB_DISPLAY_MAPPING_ADVICE_H
#define KELCALIB_DISPLAY_MAPPING_ADVICE_H

#include <cstddef>
#include <cstdint>

// The controller and the display a mapping ties together. The names are
// printable text (device/name_text.h); one that is not is left out of
// every text below.
struct MappingSubject {
    std::uint16_t vendorId;
    std::uint16_t productId;
    const char* inputName;   // the input device's name, as the kernel gives it
    const char* outputName;  // the display's output as the display system names it
    // Where the controller is attached: udev's ID_PATH of its input device
    // (placeByIdPath), else the kernel's phys of it and its uniq (which may
    // be empty). Null or empty when neither is known.
    bool placeByIdPath;
    const char* place;
    const char* uniq;
};

// The first line of every file kelcalib --persist writes; a file there
// without it is not the program's and is never replaced.
extern const char kPersistMarker[];

// The two files that keep one controller's mapping, named by a hash of its
// vendor, product and place, and the tag the rule gives its input device.
struct PersistFiles {
    char tag[32];           // "kelcalib_" and 16 hexadecimal digits
    char rulePath[128];     // /etc/udev/rules.d/71-kelcalib-vvvv-pppp-HASH.rules
    char snippetPath[128];  // /etc/X11/xorg.conf.d/99-kelcalib-vvvv-pppp-HASH.conf
};

// False when the place is unknown or holds a character a udev rule could
// not match literally (anything but letters, digits and . _ : / + @ -).
bool PersistFilesFor(const MappingSubject& subject, PersistFiles* files);

// The udev rule: the controller's event device (its vendor, product and
// place) gets the tag in ID_INPUT.tags, which the X server matches with
// MatchTag. Always terminated; false when cut short.
bool FormatUdevTagRule(const MappingSubject& subject, const PersistFiles& files, char* text,
                       std::size_t size);

// The X configuration: an InputClass matched by the tag that sets the
// transformation matrix (3 x 3, row by row). Always terminated; false when
// `size` is too small for all of it.
bool FormatXorgSnippet(const MappingSubject& subject, const PersistFiles& files,
                       const double matrix[9], char* text, std::size_t size);

// The file an earlier kelcalib wrote for every controller of the vendor and
// product: "/etc/X11/xorg.conf.d/99-kelcalib-vvvv-pppp.conf".
void EarlierXorgSnippetPath(const MappingSubject& subject, char* path, std::size_t size);

// True for the name (without its directory) of such an earlier file:
// "99-kelcalib-" four hexadecimal digits "-" four more ".conf".
bool IsEarlierSnippetName(const char* name);

enum class Compositor { kUnknown, kSway, kHyprland, kGnome, kKde, kWeston };

// The compositor from the session's environment: the names in
// XDG_CURRENT_DESKTOP and XDG_SESSION_DESKTOP (either may be null), and
// whether SWAYSOCK and HYPRLAND_INSTANCE_SIGNATURE are set.
Compositor DetectCompositor(const char* currentDesktop, const char* sessionDesktop,
                            bool swaySocket, bool hyprlandSignature);

// The one step that ties the touch device to the output in that
// compositor (for an unknown one: what to look for, and weston's udev rule
// as an example), the output named as the compositor knows it
// (subject.outputName; OUTPUT where it is empty or cannot be written in the
// step's syntax), quoted as that syntax wants. Always terminated; false
// when cut short.
bool FormatCompositorStep(Compositor compositor, const MappingSubject& subject, char* text,
                          std::size_t size);

#endif  // KELCALIB_DISPLAY_MAPPING_ADVICE_H
