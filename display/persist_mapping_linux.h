// After Yes on X11: what keeps the touch mapping of one controller after
// the session. The udev rule that tags its input device by where it is
// attached and the X configuration that maps that tag, printed, or with
// --persist (as root) written (root_files_linux.h) and handed to udev.
#ifndef KELCALIB_DISPLAY_PERSIST_MAPPING_LINUX_H
#define KELCALIB_DISPLAY_PERSIST_MAPPING_LINUX_H

#include "display/mapping_advice.h"

// `matrix` is the mapping the session keeps, `eventPath` the controller's
// first input event device. Prints on stdout what was done or what to
// save; refusals and warnings go to stderr as one line each. An identity
// matrix (one display) is written only over the program's own earlier
// files; otherwise there is nothing to keep. A file of the earlier layout
// (one per vendor and product, EarlierXorgSnippetPath) is named. True when
// udev was told to apply the rule to the event device: an X server that
// watches udev then takes the device away and adds it again, without the
// session's matrix (it reads its configuration at its start only).
bool KeepMappingOnX11(const MappingSubject& subject, const double matrix[9], const char* eventPath,
                      bool persist);

#endif  // KELCALIB_DISPLAY_PERSIST_MAPPING_LINUX_H
