// Cutting the thumbnail request's five fields out of its parameter text.
#pragma once

#include <string>

// The five fields of "width:height;format:quality;image path;", in that order.
struct THUMBNAIL_FIELDS {
  std::string strWidth;
  std::string strHeight;
  std::string strFormat;
  std::string strQuality;
  std::string strImagePath;
};

// Cuts the fields out of a copy of `pszParam` (null reads as empty). Each field ends at the first
// occurrence of its separator in what the earlier cuts left; a missing separator gives an empty
// field and leaves the rest uncut. Whatever follows the image path's ';' is ignored.
THUMBNAIL_FIELDS CutThumbnailFields(const char* pszParam);
