// Win32 types used by the session record.
//
// On Windows these are the real ones from <windows.h>. Elsewhere (the native
// test build of the portable core) opaque stand-ins take their place, so the
// same record and the same portable code compile with the machine's g++. The
// stand-ins are never dereferenced: portable code only stores, compares and
// passes these values on.
#ifndef KELCALIB_APP_PLATFORM_TYPES_H
#define KELCALIB_APP_PLATFORM_TYPES_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else

#include <cstdint>

typedef struct KelOpaqueInstance* HINSTANCE;
typedef struct KelOpaqueWindow* HWND;
typedef struct KelOpaqueCursor* HCURSOR;
typedef struct KelOpaqueHook* HHOOK;
typedef void* HANDLE;
typedef char16_t WCHAR;
typedef unsigned int UINT;
typedef std::uintptr_t UINT_PTR;

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))
#define WM_USER 0x0400

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

struct RECT {
    std::int32_t left;
    std::int32_t top;
    std::int32_t right;
    std::int32_t bottom;
};

#endif  // _WIN32

#endif  // KELCALIB_APP_PLATFORM_TYPES_H
