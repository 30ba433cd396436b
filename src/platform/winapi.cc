// The operating-system services of winapi.h, written on POSIX.
#include "winapi.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "resource_table.h"

namespace {

std::atomic<UINT> g_nErrorMode{0};

// How many fresh names GetTempFileNameA tries before it gives up on clashes.
constexpr int kMaxNameTries = 1000;

bool IsDirectory(const char* pszPath) {
  struct stat st;
  return pszPath != nullptr && pszPath[0] != '\0' && stat(pszPath, &st) == 0 && S_ISDIR(st.st_mode);
}

// The next candidate for a temporary name's number: a process-wide counter that starts at a
// random point, so that processes rarely meet, and steps by one past a clash. Never 0.
UINT NextTempNumber() {
  static std::atomic<UINT> s_nNext = [] {
    UINT nSeed = 0;
    if (getrandom(&nSeed, sizeof nSeed, 0) != static_cast<ssize_t>(sizeof nSeed)) {
      nSeed = static_cast<UINT>(getpid()) << 16;
    }
    return nSeed;
  }();
  UINT n = s_nNext.fetch_add(1);
  return n != 0 ? n : s_nNext.fetch_add(1);
}

// Writes `text` with its terminator into `buffer` of `length` bytes.
DWORD CopyOut(const std::string& text, DWORD length, LPSTR buffer) {
  if (buffer == nullptr || text.size() + 1 > length) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

}  // namespace

DWORD GetTempPathA(DWORD buffer_length, LPSTR buffer) {
  const char* pszTmp = std::getenv("TMPDIR");
  std::string strPath = IsDirectory(pszTmp) ? pszTmp : "/tmp";
  if (strPath.back() != '/') strPath += '/';
  return CopyOut(strPath, buffer_length, buffer);
}

UINT GetTempFileNameA(LPCSTR path_name, LPCSTR prefix, UINT unique, LPSTR temp_file_name) {
  if (path_name == nullptr || temp_file_name == nullptr) {
    SetLastError(EINVAL);
    return 0;
  }
  std::string strStem = path_name;
  if (!strStem.empty() && strStem.back() != '/') strStem += '/';
  if (prefix != nullptr) strStem.append(prefix, strnlen(prefix, 3));

  for (int nTry = 0; nTry < kMaxNameTries; ++nTry) {
    UINT n = unique != 0 ? unique : NextTempNumber();
    char szNumber[16];
    snprintf(szNumber, sizeof szNumber, "%X.tmp", n);
    std::string strName = strStem + szNumber;
    if (strName.size() + 1 > MAX_PATH) {
      SetLastError(ENAMETOOLONG);
      return 0;
    }
    if (unique != 0) {  // a caller-chosen number only makes the name
      std::memcpy(temp_file_name, strName.c_str(), strName.size() + 1);
      return n;
    }
    int fd = open(strName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      std::memcpy(temp_file_name, strName.c_str(), strName.size() + 1);
      return n;
    }
    if (errno != EEXIST) return 0;  // errno is the last error
  }
  SetLastError(EEXIST);
  return 0;
}

BOOL DeleteFileA(LPCSTR file_name) { return file_name != nullptr && unlink(file_name) == 0; }

namespace {
// What a search handle of FindFirstFileA owns.
struct FIND_CONTEXT {
  WIN32_FIND_DATAA data;
};
}  // namespace

HANDLE FindFirstFileA(LPCSTR file_name, WIN32_FIND_DATAA* data) {
  struct stat st;
  if (file_name == nullptr || lstat(file_name, &st) != 0) return INVALID_HANDLE_VALUE;
  auto* pFind = new (std::nothrow) FIND_CONTEXT{};
  if (pFind == nullptr) {
    SetLastError(ENOMEM);
    return INVALID_HANDLE_VALUE;
  }
  pFind->data.dwFileAttributes =
      S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  pFind->data.nFileSizeBytes = static_cast<uint64_t>(st.st_size);
  const char* pszBase = std::strrchr(file_name, '/');
  pszBase = pszBase != nullptr ? pszBase + 1 : file_name;
  snprintf(pFind->data.cFileName, sizeof pFind->data.cFileName, "%s", pszBase);
  if (data != nullptr) *data = pFind->data;
  return pFind;
}

BOOL FindClose(HANDLE find) {
  if (find == nullptr || find == INVALID_HANDLE_VALUE) {
    SetLastError(EBADF);
    return false;
  }
  delete static_cast<FIND_CONTEXT*>(find);
  return true;
}

HINSTANCE AfxGetResourceHandle() { return const_cast<RESOURCE_MODULE*>(&g_resParvixModule); }

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int buffer_max) {
  if (buffer == nullptr || buffer_max <= 0) return 0;
  const auto* pModule =
      static_cast<const RESOURCE_MODULE*>(instance != nullptr ? instance : AfxGetResourceHandle());
  for (size_t i = 0; i < pModule->cStrings; ++i) {
    if (pModule->pStrings[i].nID != id) continue;
    size_t cch = strnlen(pModule->pStrings[i].pszText, static_cast<size_t>(buffer_max - 1));
    std::memcpy(buffer, pModule->pStrings[i].pszText, cch);
    buffer[cch] = '\0';
    return static_cast<int>(cch);
  }
  buffer[0] = '\0';
  return 0;
}

UINT SetErrorMode(UINT mode) { return g_nErrorMode.exchange(mode); }

DWORD GetLastError() { return static_cast<DWORD>(errno); }

void SetLastError(DWORD error) { errno = static_cast<int>(error); }
