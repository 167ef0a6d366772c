// The libc entry points the hidraw interposer takes over, loaded with
// LD_PRELOAD: a listing of /dev shows the virtual nodes, an open of one
// gives a descriptor that answers the hidraw ioctls, and the sysfs uevent
// file of a virtual node tells its IDs. Everything else goes on to the next
// definition (libc's), found with dlsym(RTLD_NEXT).
//
// A virtual node's descriptor is a real one (an eventfd with nothing to
// read, as a hidraw node without input reports), so poll, read with
// O_NONBLOCK, fcntl and exec behave as the kernel's would; the interposer
// only tracks which descriptors stand for which device, through dup, dup2,
// dup3, fcntl(F_DUPFD[_CLOEXEC]) and close, and takes flock and fcntl's
// record locks on them over to a lock file of each node (vc_hidraw_devices.h). Only absolute paths are
// recognised (also for openat).
#undef _FORTIFY_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tools/virtual-controller/linux/vc_hidraw_devices.h"

namespace {

template <typename Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// The next definition of a libc function, looked up once.
#define NEXT(name, type) static const auto next_##name = Next<type>(#name)

using OpenFunction = int (*)(const char*, int, ...);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using Open2Function = int (*)(const char*, int);
using OpenAt2Function = int (*)(int, const char*, int);

bool NeedsMode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

// Opens a virtual node or uevent file. False when `path` is not one of ours.
bool OpenVirtual(const char* path, int flags, int* result) {
    int entry = -1;
    const VcHidrawPath kind = VcHidrawClassify(path, &entry);
    if (kind == VcHidrawPath::kOther) return false;
    const bool cloexec = (flags & O_CLOEXEC) != 0;
    if (kind == VcHidrawPath::kUevent) {
        const std::string text = VcHidrawUevent(entry);
        const int fd = memfd_create("kelcalib-vc-uevent", cloexec ? MFD_CLOEXEC : 0);
        if (fd >= 0 && (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
                        lseek(fd, 0, SEEK_SET) != 0)) {
            close(fd);
            *result = -1;
            errno = EIO;
            return true;
        }
        *result = fd;
        return true;
    }
    if (VcHidrawDenied(entry)) {
        errno = EACCES;
        *result = -1;
        return true;
    }
    const int fd = eventfd(0, (cloexec ? EFD_CLOEXEC : 0) | ((flags & O_NONBLOCK) != 0 ? EFD_NONBLOCK : 0));
    if (fd >= 0) VcHidrawAddFd(fd, entry);
    *result = fd;
    return true;
}

// A descriptor made from `source` (dup and friends): it stands for the same
// device; one that replaced a virtual descriptor no longer stands for that.
int Duplicated(int source, int fd) {
    if (fd < 0) return fd;
    const int entry = VcHidrawEntryOfFd(source);
    if (entry >= 0) {
        VcHidrawAddFd(fd, entry);
    } else {
        VcHidrawRemoveFd(fd);
    }
    return fd;
}

int FcntlCommon(int fd, int cmd, void* argument, const char* name) {
    using FcntlFunction = int (*)(int, int, ...);
    static const auto nextFcntl = Next<FcntlFunction>("fcntl");
    static const auto nextFcntl64 = Next<FcntlFunction>("fcntl64");
    const FcntlFunction next = (std::strcmp(name, "fcntl64") == 0 && nextFcntl64 != nullptr) ? nextFcntl64 : nextFcntl;
    const bool lock = cmd == F_SETLK || cmd == F_SETLKW || cmd == F_GETLK || cmd == F_OFD_SETLK ||
                      cmd == F_OFD_SETLKW || cmd == F_OFD_GETLK;
    if (lock && VcHidrawEntryOfFd(fd) >= 0) return VcHidrawFcntlLock(fd, cmd, argument);
    const int result = next(fd, cmd, argument);
    if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) return Duplicated(fd, result);
    return result;
}

// /dev listings handed out by opendir, told apart from real DIR pointers.
struct VirtualDirectory {
    std::vector<std::string> names;
    std::size_t next;
    dirent entry;
    dirent64 entry64;
};

std::mutex gDirectoryLock;
std::set<const void*>& Directories() {
    static auto* directories = new std::set<const void*>;  // never destroyed
    return *directories;
}

VirtualDirectory* VirtualOf(const void* directory) {
    std::lock_guard<std::mutex> guard(gDirectoryLock);
    return Directories().count(directory) != 0
               ? static_cast<VirtualDirectory*>(const_cast<void*>(directory))
               : nullptr;
}

template <typename Entry>
Entry* NextEntry(VirtualDirectory* directory, Entry* entry) {
    if (directory->next >= directory->names.size()) return nullptr;  // the end; errno untouched
    const std::string& name = directory->names[directory->next++];
    std::memset(entry, 0, sizeof *entry);
    entry->d_ino = 1000 + directory->next;
    entry->d_off = static_cast<decltype(entry->d_off)>(directory->next);
    entry->d_type = name.compare(0, 6, "hidraw") == 0 ? DT_CHR : name[0] == '.' ? DT_DIR : DT_CHR;
    std::strncpy(entry->d_name, name.c_str(), sizeof entry->d_name - 1);
    const std::size_t length = offsetof(Entry, d_name) + name.size() + 1;
    entry->d_reclen = static_cast<unsigned short>((length + 7) / 8 * 8);
    return entry;
}

// The descriptor of a virtual node or uevent file at `path`, or what
// `pass` (the next open) gives for any other path.
template <typename Pass>
int OpenVirtualOr(const char* path, int flags, Pass pass) {
    int fd = -1;
    return OpenVirtual(path, flags, &fd) ? fd : pass();
}

}  // namespace

#define EXPORTED extern "C" __attribute__((visibility("default")))

// The mode argument an open that may create a file carries (0 for others),
// read from the variable arguments of the open function it stands in.
#define TAKE_MODE(flags, mode)                 \
    mode_t mode = 0;                           \
    if (NeedsMode(flags)) {                    \
        std::va_list arguments;                \
        va_start(arguments, flags);            \
        mode = va_arg(arguments, mode_t);      \
        va_end(arguments);                     \
    }

EXPORTED int open(const char* path, int flags, ...) {
    NEXT(open, OpenFunction);
    TAKE_MODE(flags, mode);
    return OpenVirtualOr(path, flags, [&] { return next_open(path, flags, mode); });
}

EXPORTED int open64(const char* path, int flags, ...) {
    NEXT(open64, OpenFunction);
    TAKE_MODE(flags, mode);
    return OpenVirtualOr(path, flags, [&] { return next_open64(path, flags, mode); });
}

EXPORTED int openat(int directory, const char* path, int flags, ...) {
    NEXT(openat, OpenAtFunction);
    TAKE_MODE(flags, mode);
    return OpenVirtualOr(path, flags, [&] { return next_openat(directory, path, flags, mode); });
}

EXPORTED int openat64(int directory, const char* path, int flags, ...) {
    NEXT(openat64, OpenAtFunction);
    TAKE_MODE(flags, mode);
    return OpenVirtualOr(path, flags, [&] { return next_openat64(directory, path, flags, mode); });
}

// The checking variants a fortified build calls.
EXPORTED int __open_2(const char* path, int flags) {
    NEXT(__open_2, Open2Function);
    return OpenVirtualOr(path, flags, [&] { return next___open_2(path, flags); });
}

EXPORTED int __open64_2(const char* path, int flags) {
    NEXT(__open64_2, Open2Function);
    return OpenVirtualOr(path, flags, [&] { return next___open64_2(path, flags); });
}

EXPORTED int __openat_2(int directory, const char* path, int flags) {
    NEXT(__openat_2, OpenAt2Function);
    return OpenVirtualOr(path, flags, [&] { return next___openat_2(directory, path, flags); });
}

EXPORTED int __openat64_2(int directory, const char* path, int flags) {
    NEXT(__openat64_2, OpenAt2Function);
    return OpenVirtualOr(path, flags, [&] { return next___openat64_2(directory, path, flags); });
}

EXPORTED int close(int fd) {
    NEXT(close, int (*)(int));
    VcHidrawRemoveFd(fd);
    return next_close(fd);
}

EXPORTED int flock(int fd, int operation) {
    NEXT(flock, int (*)(int, int));
    if (VcHidrawEntryOfFd(fd) >= 0) return VcHidrawFlock(fd, operation);
    return next_flock(fd, operation);
}

EXPORTED int dup(int fd) {
    NEXT(dup, int (*)(int));
    return Duplicated(fd, next_dup(fd));
}

EXPORTED int dup2(int fd, int target) {
    NEXT(dup2, int (*)(int, int));
    return Duplicated(fd, next_dup2(fd, target));
}

EXPORTED int dup3(int fd, int target, int flags) {
    NEXT(dup3, int (*)(int, int, int));
    return Duplicated(fd, next_dup3(fd, target, flags));
}

EXPORTED int fcntl(int fd, int cmd, ...) {
    std::va_list arguments;
    va_start(arguments, cmd);
    void* argument = va_arg(arguments, void*);  // as libc itself takes it
    va_end(arguments);
    return FcntlCommon(fd, cmd, argument, "fcntl");
}

EXPORTED int fcntl64(int fd, int cmd, ...) {
    std::va_list arguments;
    va_start(arguments, cmd);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return FcntlCommon(fd, cmd, argument, "fcntl64");
}

EXPORTED int ioctl(int fd, unsigned long request, ...) {
    NEXT(ioctl, int (*)(int, unsigned long, ...));
    std::va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int entry = VcHidrawEntryOfFd(fd);
    if (entry >= 0) return VcHidrawIoctl(entry, request, argument);
    return next_ioctl(fd, request, argument);
}

EXPORTED DIR* opendir(const char* path) {
    NEXT(opendir, DIR* (*)(const char*));
    if (!VcHidrawIsDevDirectory(path)) return next_opendir(path);
    auto* directory = new VirtualDirectory();
    directory->names = VcHidrawDevListing();
    directory->next = 0;
    std::lock_guard<std::mutex> guard(gDirectoryLock);
    Directories().insert(directory);
    return reinterpret_cast<DIR*>(directory);
}

EXPORTED dirent* readdir(DIR* directory) {
    NEXT(readdir, dirent* (*)(DIR*));
    VirtualDirectory* virtualDirectory = VirtualOf(directory);
    if (virtualDirectory == nullptr) return next_readdir(directory);
    return NextEntry(virtualDirectory, &virtualDirectory->entry);
}

EXPORTED dirent64* readdir64(DIR* directory) {
    NEXT(readdir64, dirent64* (*)(DIR*));
    VirtualDirectory* virtualDirectory = VirtualOf(directory);
    if (virtualDirectory == nullptr) return next_readdir64(directory);
    return NextEntry(virtualDirectory, &virtualDirectory->entry64);
}

EXPORTED void rewinddir(DIR* directory) {
    NEXT(rewinddir, void (*)(DIR*));
    VirtualDirectory* virtualDirectory = VirtualOf(directory);
    if (virtualDirectory == nullptr) {
        next_rewinddir(directory);
        return;
    }
    virtualDirectory->next = 0;
}

EXPORTED int dirfd(DIR* directory) {
    NEXT(dirfd, int (*)(DIR*));
    if (VirtualOf(directory) == nullptr) return next_dirfd(directory);
    errno = ENOTSUP;
    return -1;
}

EXPORTED int closedir(DIR* directory) {
    NEXT(closedir, int (*)(DIR*));
    VirtualDirectory* virtualDirectory = VirtualOf(directory);
    if (virtualDirectory == nullptr) return next_closedir(directory);
    {
        std::lock_guard<std::mutex> guard(gDirectoryLock);
        Directories().erase(virtualDirectory);
    }
    delete virtualDirectory;
    return 0;
}

// Test controls, found with dlsym(RTLD_DEFAULT, ...).

// Re-reads the config and the environment, starting every device afresh.
// 1 when the config was read and understood.
EXPORTED int KelVcHidrawReload() {
    return VcHidrawReload() ? 1 : 0;
}

// How many descriptors are open on virtual nodes.
EXPORTED int KelVcHidrawOpenCount() {
    return VcHidrawOpenFdCount();
}
