// The operating-system services the extension was designed against, under their own names.
// Everything here is ours; the rest of the code base never talks to the platform directly.
#pragma once

#include <cstdint>

#include "isapi.h"

using UINT = uint32_t;
using HANDLE = void*;
using HINSTANCE = void*;

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;
constexpr UINT SEM_NOOPENFILEERRORBOX = 0x8000;
constexpr DWORD MAX_PATH = 260;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

// Writes the temporary directory, ending in '/', into `buffer` ($TMPDIR when it names a
// directory, else /tmp). Returns the length written, or the length needed (with the
// terminator) when the buffer is too small, which leaves the buffer untouched.
DWORD GetTempPathA(DWORD buffer_length, LPSTR buffer);

// Creates a new empty file (mode 0600, never following a link) in `path_name`, named from at
// most three characters of `prefix`, a hexadecimal number and ".tmp", and writes its full
// path into `temp_file_name` (MAX_PATH characters at least; it may be `path_name` itself).
// `unique` 0 asks for a fresh name. Returns the number used, or 0 on failure (last error set).
UINT GetTempFileNameA(LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name);

// Removes a file. Returns false (last error set) when it cannot.
BOOL DeleteFileA(LPCSTR file_name);

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  uint64_t nFileSizeBytes;
  char cFileName[MAX_PATH];
};

// Looks for the file or directory named `file_name`. Returns a search handle for FindClose and
// fills `data`, or INVALID_HANDLE_VALUE when nothing is found.
HANDLE FindFirstFileA(LPCSTR file_name, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE find);

// Copies string resource `id` of the module `instance` (null: this library) into `buffer`,
// cut to `buffer_max` - 1 characters and terminated. Returns the characters copied, 0 when the
// string does not exist.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_max);

// The module whose resources LoadStringA reads by default: this library itself.
HINSTANCE AfxGetResourceHandle();

// Sets the process's error-mode flags and returns the previous ones. Nothing on this platform
// consults them; they are kept so that the class library's load step reads as designed.
UINT SetErrorMode(UINT mode);

// The calling thread's last error, kept in errno, which every module of the process shares.
DWORD GetLastError();
void SetLastError(DWORD error);
