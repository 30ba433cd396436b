// COutputStream: appending, clearing and handing over the request's page bytes.
#include "output_stream.h"

#include <cstring>
#include <limits>

#include "afx.h"

COutputStream::COutputStream(UINT cbGrowBy) : m_cbGrowBy(cbGrowBy != 0 ? cbGrowBy : 1) {}

void COutputStream::Write(const void* pBytes, UINT cb) {
  if (cb == 0) return;
  constexpr UINT kMax = std::numeric_limits<UINT>::max();
  if (cb > kMax - m_cbSize) AfxThrowMemoryException();
  UINT cbNew = m_cbSize + cb;
  if (m_cbCapacity <= cbNew) {
    // The smallest multiple of the step that is larger than the new size: there is always
    // room for the terminator that TakeBytes adds.
    UINT cSteps = cbNew / m_cbGrowBy + 1;
    if (cSteps > kMax / m_cbGrowBy) AfxThrowMemoryException();
    UINT cbCapacity = cSteps * m_cbGrowBy;
    auto pBytesNew = std::make_unique_for_overwrite<char[]>(cbCapacity);
    if (m_cbSize != 0) std::memcpy(pBytesNew.get(), m_pBytes.get(), m_cbSize);
    m_pBytes = std::move(pBytesNew);
    m_cbCapacity = cbCapacity;
  }
  std::memcpy(m_pBytes.get() + m_cbSize, pBytes, cb);
  m_cbSize = cbNew;
}

void COutputStream::WriteText(const char* pszText) {
  size_t cch = std::strlen(pszText);
  if (cch > std::numeric_limits<UINT>::max()) AfxThrowMemoryException();
  Write(pszText, static_cast<UINT>(cch));
}

std::unique_ptr<char[]> COutputStream::TakeBytes() {
  if (m_pBytes != nullptr) m_pBytes[m_cbSize] = '\0';
  m_cbSize = 0;
  m_cbCapacity = 0;
  return std::move(m_pBytes);
}
