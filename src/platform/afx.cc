// The class library's pieces of afx.h: exceptions, CFile and CFileFind, written on POSIX.
#include "afx.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

int CauseOf(int nError) {
  switch (nError) {
    case ENOENT:
    case ENOTDIR:
      return CFileException::fileNotFound;
    case EACCES:
    case EPERM:
    case EISDIR:
      return CFileException::accessDenied;
    case EWOULDBLOCK:
      return CFileException::sharingViolation;
    default:
      return CFileException::genericException;
  }
}

}  // namespace

void AfxThrowMemoryException() { throw CMemoryException(); }

void AfxThrowFileException(int cause, int os_error, const std::string& file_name) {
  throw CFileException(cause, os_error, file_name);
}

CFile::~CFile() {
  if (m_hFile >= 0) close(m_hFile);  // closing releases the lock; a destructor must not throw
}

bool CFile::Open(const char* file_name, UINT /*open_flags*/, CFileException* error) {
  auto Fail = [&](int nError) {
    if (error != nullptr)
      *error = CFileException(CauseOf(nError), nError, file_name ? file_name : "");
    SetLastError(nError);
    return false;
  };
  if (m_hFile >= 0) return Fail(EBUSY);
  if (file_name == nullptr) return Fail(EINVAL);
  // O_NONBLOCK keeps a FIFO at the path from blocking the open; it is refused just below.
  int fd = open(file_name, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return Fail(errno);
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int nError = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
    close(fd);
    return Fail(nError);
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int nError = errno;
    close(fd);
    return Fail(nError);
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  m_hFile = fd;
  m_strFileName = file_name;
  return true;
}

uint64_t CFile::GetLength() const {
  struct stat st;
  if (m_hFile < 0 || fstat(m_hFile, &st) != 0) {
    AfxThrowFileException(CFileException::genericException, m_hFile < 0 ? EBADF : errno,
                          m_strFileName);
  }
  return static_cast<uint64_t>(st.st_size);
}

UINT CFile::Read(void* buffer, UINT count) {
  if (m_hFile < 0) AfxThrowFileException(CFileException::genericException, EBADF, m_strFileName);
  UINT cbDone = 0;
  while (cbDone < count) {
    ssize_t n = read(m_hFile, static_cast<char*>(buffer) + cbDone, count - cbDone);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) AfxThrowFileException(CauseOf(errno), errno, m_strFileName);
    if (n == 0) break;
    cbDone += static_cast<UINT>(n);
  }
  return cbDone;
}

void CFile::Close() {
  if (m_hFile < 0) return;
  int fd = m_hFile;
  m_hFile = -1;
  if (close(fd) != 0) AfxThrowFileException(CFileException::genericException, errno, m_strFileName);
}

bool CFileFind::FindFile(const char* name) {
  Close();
  WIN32_FIND_DATAA data;
  HANDLE hFind = FindFirstFileA(name, &data);
  if (hFind == INVALID_HANDLE_VALUE) return false;
  m_hContext = hFind;
  return true;
}

void CFileFind::Close() {
  if (m_hContext == nullptr) return;
  FindClose(m_hContext);
  m_hContext = nullptr;
}
