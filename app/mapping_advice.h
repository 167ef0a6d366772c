// What the user is told to make a touch-to-display mapping last: the X
// configuration snippet, and on Wayland the one setting of the compositor
// in use. Portable texts; the Linux program fills in the facts.
#ifndef KELCALIB_APP_MAPPING_ADVICE_H
#define KELCALIB_APP_MAPPING_ADVICE_H

#include <cstddef>
#include <cstdint>

// The controller and the display a mapping ties together.
struct MappingSubject {
    std::uint16_t vendorId;
    std::uint16_t productId;
    const char* inputName;   // the input device's name, as the kernel gives it
    const char* outputName;  // the display's output (connector) name
};

// The X configuration file that makes a mapping permanent:
// "/etc/X11/xorg.conf.d/99-kelcalib-vvvv-pppp.conf" (lower-case hexadecimal).
void XorgSnippetPath(const MappingSubject& subject, char* path, std::size_t size);

// Its text: an InputClass section matched by USB vendor and product that
// sets the transformation matrix (3 x 3, row by row). Always terminated;
// false when `size` is too small for all of it.
bool FormatXorgSnippet(const MappingSubject& subject, const double matrix[9], char* text,
                       std::size_t size);

enum class Compositor { kUnknown, kSway, kHyprland, kGnome, kKde, kWeston };

// The compositor from the session's environment: the names in
// XDG_CURRENT_DESKTOP and XDG_SESSION_DESKTOP (either may be null), and
// whether SWAYSOCK and HYPRLAND_INSTANCE_SIGNATURE are set.
Compositor DetectCompositor(const char* currentDesktop, const char* sessionDesktop,
                            bool swaySocket, bool hyprlandSignature);

// The one step that ties the touch device to the output in that
// compositor (for an unknown one: what to look for, and weston's udev rule
// as an example). Always terminated; false when cut short.
bool FormatCompositorStep(Compositor compositor, const MappingSubject& subject, char* text,
                          std::size_t size);

#endif  // KELCALIB_APP_MAPPING_ADVICE_H
