// Cutting the thumbnail request's five fields out of its parameter text.
#include "field_cutter.h"

namespace {

// The field before the first `separator` of `rest`, or empty when there is none. With
// `consume`, `rest` keeps what follows the separator (all of it when there is none).
std::string CutField(std::string& rest, char separator, bool consume) {
  std::string::size_type i = rest.find(separator);
  if (i == std::string::npos) return std::string();
  std::string field = rest.substr(0, i);
  if (consume) rest.erase(0, i + 1);
  return field;
}

}  // namespace

THUMBNAIL_FIELDS CutThumbnailFields(const char* pszParam) {
  std::string rest = pszParam != nullptr ? pszParam : "";
  THUMBNAIL_FIELDS fields;
  fields.strWidth = CutField(rest, ':', true);
  fields.strHeight = CutField(rest, ';', true);
  fields.strFormat = CutField(rest, ':', true);
  fields.strQuality = CutField(rest, ';', true);
  fields.strImagePath = CutField(rest, ';', false);
  return fields;
}
