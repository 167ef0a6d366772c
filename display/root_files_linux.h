// Files the program writes as root (kelcalib --persist): each into a
// directory only root may change, created exclusively under a temporary
// name without following links, mode 0644 whatever the umask, written,
// synced, renamed over the file, the directory synced; never over a file
// the program did not write.
#ifndef KELCALIB_DISPLAY_ROOT_FILES_LINUX_H
#define KELCALIB_DISPLAY_ROOT_FILES_LINUX_H

#include <cstddef>

// Writes `text` as the file `path` (absolute; under SystemPath's root). A
// file already there must begin with the line `marker`; a missing directory
// is made (0755). Every directory on the way must be root's, not writable by
// others (unless sticky) nor by a group other than root's, and no link. On
// false `error` holds one line saying why, and nothing was changed.
bool WriteRootFile(const char* path, const char* text, const char* marker, char* error,
                   std::size_t size);

// Whether WriteRootFile would write `path`: its directories may hold it and
// what stands there is absent or the program's (a missing directory is made
// as WriteRootFile would). On false `error` holds one line.
bool MayWriteRootFile(const char* path, const char* marker, char* error, std::size_t size);

// True when a file stands at `path` (under SystemPath's root), whatever it is.
bool RootFileExists(const char* path);

#endif  // KELCALIB_DISPLAY_ROOT_FILES_LINUX_H
