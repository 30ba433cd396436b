// Small helpers shared by the frame's files: ASCII case-blind comparison and the debug trace.
#pragma once

#include <cstddef>
#include <cstdio>

namespace frame_util {

inline char AsciiLower(char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch; }

// True when the `cch` characters at `pszText` equal `pszWord` whole, ASCII letters without
// regard to case (other bytes, UTF-8 included, compare exactly).
inline bool EqualsNoCase(const char* pszText, size_t cch, const char* pszWord) {
  size_t i = 0;
  for (; i < cch; ++i) {
    if (pszWord[i] == '\0' || AsciiLower(pszText[i]) != AsciiLower(pszWord[i])) return false;
  }
  return pszWord[i] == '\0';
}

inline bool EqualsNoCase(const char* pszText, const char* pszWord) {
  size_t cch = 0;
  while (pszText[cch] != '\0') ++cch;
  return EqualsNoCase(pszText, cch, pszWord);
}

}  // namespace frame_util

// The frame's diagnostic texts go to a debug trace that is silent unless the library is built
// with PARVIX_FRAME_TRACE; the arguments are still checked either way.
#ifdef PARVIX_FRAME_TRACE
#define FRAME_TRACE(...) std::fprintf(stderr, __VA_ARGS__)
#else
#define FRAME_TRACE(...)                          \
  do {                                            \
    if (false) std::fprintf(stderr, __VA_ARGS__); \
  } while (0)
#endif
