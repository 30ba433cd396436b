// The thumbnail maker: loads, converts, fits, stretches and saves one image through rasterkit.
#include "thumbnail_maker.h"

#include <cmath>
#include <limits>

#include "afx.h"
#include "rasterkit.h"
#include "winapi.h"

namespace {

constexpr DWORD kNameBufferLength = 1024;
constexpr char kTempPrefix[] = "Parvix";

// Owns the image handle for one call: released on every path, also when an error passes.
class CImageHolder {
 public:
  explicit CImageHolder(ImageHandle hImage) : m_hImage(hImage) {}
  CImageHolder(const CImageHolder&) = delete;
  CImageHolder& operator=(const CImageHolder&) = delete;
  ~CImageHolder() { Release(); }
  ImageHandle Get() const { return m_hImage; }
  void Release() {
    if (m_hImage != nullptr) DeleteImageObject(m_hImage);
    m_hImage = nullptr;
  }

 private:
  ImageHandle m_hImage;
};

// Removes the placeholder file unless the maker hands it over to its caller.
class CPlaceholderGuard {
 public:
  explicit CPlaceholderGuard(const char* pszPath) : m_pszPath(pszPath) {}
  CPlaceholderGuard(const CPlaceholderGuard&) = delete;
  CPlaceholderGuard& operator=(const CPlaceholderGuard&) = delete;
  ~CPlaceholderGuard() {
    if (m_pszPath != nullptr) DeleteFileA(m_pszPath);
  }
  void HandOver() { m_pszPath = nullptr; }

 private:
  const char* m_pszPath;
};

// The low 32 bits of a quotient truncated to a 64-bit integer; values no 64-bit integer holds
// (never reached by image sizes) saturate instead of being undefined.
int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9223372036854775807.0;
  int64_t whole = value >= kLimit    ? std::numeric_limits<int64_t>::max()
                  : value <= -kLimit ? std::numeric_limits<int64_t>::min()
                                     : static_cast<int64_t>(value);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(whole)));
}

// Keeps `path` up to its last '.' and appends `extension`.
void ReplaceExtension(std::string& path, const char* extension) {
  std::string::size_type dot = path.rfind('.');
  if (dot != std::string::npos) path.erase(dot);
  path += extension;
}

}  // namespace

int32_t ReadDecimal(const std::string& text) {
  std::string::size_type i = 0;
  auto is_space = [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
  };
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  uint32_t value = 0;
  bool any_digit = false;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10u + static_cast<uint32_t>(text[i++] - '0');
    any_digit = true;
  }
  if (!any_digit) return 0;
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

void FitToBounds(int32_t image_width, int32_t image_height, int32_t width_bound,
                 int32_t height_bound, int32_t* new_width, int32_t* new_height) {
  // The width ratio is kept in single precision on purpose: clients rely on the sizes it gives.
  float width_ratio = 1.0f;
  if (image_width > width_bound) {
    width_ratio = static_cast<float>(static_cast<double>(image_width) / width_bound);
  }
  double height_ratio = 1.0;
  if (image_height > height_bound) {
    height_ratio = static_cast<double>(image_height) / height_bound;
  }
  double scale = static_cast<double>(width_ratio) > height_ratio ? width_ratio : height_ratio;
  *new_width = TruncateToInt32(image_width / scale);
  *new_height = TruncateToInt32(image_height / scale);
}

std::string MakeThumbnail(std::string width_text, std::string height_text, std::string format_text,
                          std::string quality_text, std::string image_path,
                          std::string& placeholder_path) {
  CImageHolder image(InitImageObject(image_path.c_str(), nullptr, -1, -1));
  if (image.Get() == nullptr) return std::string();

  // Reserve a unique name. Without one the thumbnail would land in an unintended place, so a
  // failure here is a file error rather than something to carry on from.
  char szName[kNameBufferLength] = {};
  DWORD cchTempPath = GetTempPathA(kNameBufferLength, szName);
  if (cchTempPath == 0 || cchTempPath >= kNameBufferLength ||
      GetTempFileNameA(szName, kTempPrefix, 0, szName) == 0) {
    AfxThrowFileException(CFileException::genericException, static_cast<int>(GetLastError()),
                          szName);
  }
  CPlaceholderGuard placeholder(szName);
  std::string reserved_path = szName;
  std::string thumbnail_path = reserved_path;

  for (char& c : format_text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (format_text.find("JPG") != std::string::npos) {
    if (GetNumBits(image.Get()) != 24) ChangeImageFormat(image.Get(), 24);
    SetQuality(image.Get(), ReadDecimal(quality_text));
    ReplaceExtension(thumbnail_path, ".jpg");
  }
  if (format_text.find("GIF") != std::string::npos) {
    if (GetNumBits(image.Get()) != 8) ChangeImageFormat(image.Get(), 8);
    ReplaceExtension(thumbnail_path, ".gif");
  }

  int32_t width_bound = ReadDecimal(width_text);
  int32_t height_bound = ReadDecimal(height_text);
  int32_t image_width = GetWidth(image.Get());
  int32_t image_height = GetHeight(image.Get());
  int32_t new_width = 0;
  int32_t new_height = 0;
  FitToBounds(image_width, image_height, width_bound, height_bound, &new_width, &new_height);
  Stretch(image.Get(), new_width, new_height);
  Save(image.Get(), thumbnail_path.c_str(), -1);
  image.Release();

  placeholder_path.swap(reserved_path);
  placeholder.HandOver();
  return thumbnail_path;
}
