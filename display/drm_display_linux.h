// The kernel's display (KMS/DRM) side of a display: the connector that
// shows it and the physical size it reports.
#ifndef KELCALIB_DISPLAY_DRM_DISPLAY_LINUX_H
#define KELCALIB_DISPLAY_DRM_DISPLAY_LINUX_H

struct DisplayFacts;

// The connector SDL counts as display `display` on the DRM device `fd`: the
// display-th connected connector that has modes, in the device's order (as
// SDL's KMS/DRM driver numbers them). Fills its name ("Virtual-1") and
// millimetres (0 where it reports none); the kernel's console is never
// rotated. False when there is no such connector.
bool DrmConnectorFacts(int fd, int display, DisplayFacts* facts);

// Opens the first DRM device (/dev/dri/card0, card1, ...) that has a
// connected connector, as SDL's KMS/DRM driver picks it; -1 for none.
int OpenDrmCard();

#endif  // KELCALIB_DISPLAY_DRM_DISPLAY_LINUX_H
