// The class library's pieces the extension uses: exceptions, CFile and CFileFind.
#pragma once

#include <cstdint>
#include <string>

#include "winapi.h"

// Base of every exception the class library raises.
class CException {
 public:
  virtual ~CException() = default;
};

// Raised by CFile for a failed length query, read or close.
class CFileException : public CException {
 public:
  enum { none = 0, genericException, fileNotFound, accessDenied, sharingViolation, endOfFile };
  CFileException(int cause = none, int os_error = 0, std::string file_name = {})
      : m_cause(cause), m_lOsError(os_error), m_strFileName(std::move(file_name)) {}
  int m_cause;
  int m_lOsError;
  std::string m_strFileName;
};

// Raised when memory cannot be had.
class CMemoryException : public CException {};

[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowFileException(int cause, int os_error, const std::string& file_name);

// A file opened read-only. Every opener through CFile takes an exclusive lock on the file, so
// a second opener fails while the first holds it open. Closed by Close or the destructor.
class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    shareExclusive = 0x0010,
    modeNoTruncate = 0x10000,
    typeBinary = 0x8000,
  };

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  ~CFile();

  // Opens an existing file for reading (never creates one, never follows a final symbolic
  // link into something that is not a regular file). Returns false, filling `error` when
  // given, when the file does not exist, cannot be read, or another opener holds it.
  bool Open(const char* file_name, UINT open_flags, CFileException* error = nullptr);

  // The file's length; the position is left where it was. Throws CFileException on failure.
  uint64_t GetLength() const;

  // Reads up to `count` bytes at the current position; returns how many were read (fewer only
  // at the end of the file). Throws CFileException on failure.
  UINT Read(void* buffer, UINT count);

  // Closes the file; throws CFileException when the close fails. Does nothing when closed.
  void Close();

  bool IsOpen() const { return m_hFile >= 0; }

 private:
  int m_hFile = -1;
  std::string m_strFileName;
};

// A directory search for one name: FindFile says whether anything by that name exists.
class CFileFind {
 public:
  CFileFind() = default;
  CFileFind(const CFileFind&) = delete;
  CFileFind& operator=(const CFileFind&) = delete;
  ~CFileFind() { Close(); }

  // Starts a search for `name`; true when at least one entry is found.
  bool FindFile(const char* name);
  void Close();

 private:
  HANDLE m_hContext = nullptr;
};
