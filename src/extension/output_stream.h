// COutputStream: the per-request buffer in which the frame builds its own pages.
#pragma once

#include <memory>

#include "winapi.h"

// A growing byte buffer owned by one request. The buffer is allocated on the first write and
// grows in whole steps of the growth step; an allocation failure throws (std::bad_alloc or
// CMemoryException), which the frame answers like any other exception.
class COutputStream {
 public:
  static constexpr UINT kDefaultGrowBy = 4096;

  explicit COutputStream(UINT cbGrowBy = kDefaultGrowBy);
  COutputStream(const COutputStream&) = delete;
  COutputStream& operator=(const COutputStream&) = delete;
  virtual ~COutputStream() = default;

  // Appends `cb` bytes; a count of 0 does nothing.
  void Write(const void* pBytes, UINT cb);
  // Appends a zero-terminated text without its terminator.
  void WriteText(const char* pszText);
  // Empties the stream; the buffer stays allocated.
  void Clear() { m_cbSize = 0; }
  // Hands the buffer to the caller with a 0 byte after the last written byte and leaves the
  // stream empty with no buffer. Null when the stream never had a buffer.
  std::unique_ptr<char[]> TakeBytes();

  UINT GetSize() const { return m_cbSize; }
  UINT GetCapacity() const { return m_cbCapacity; }
  UINT GetGrowBy() const { return m_cbGrowBy; }

 private:
  std::unique_ptr<char[]> m_pBytes;
  UINT m_cbSize = 0;
  UINT m_cbCapacity = 0;
  UINT m_cbGrowBy;
};
