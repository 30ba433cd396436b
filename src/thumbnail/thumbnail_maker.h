// The thumbnail maker: one image file in, one thumbnail file in the temporary directory out.
#pragma once

#include <cstdint>
#include <string>

// Reads a decimal integer as the "%d" scan conversion does: optional white space, an optional
// sign, then digits accumulated in 32 bits with wrap-around. A text that holds no digit there
// reads as 0.
int32_t ReadDecimal(const std::string& text);

// Fits an image of image_width x image_height into the bounds, keeping its proportions and never
// enlarging it. The width ratio is held as a 32-bit float and the quotients are truncated, so the
// dimension that sets the scale ends at its bound or one below (60 x 60 in 50 x 50 gives 49 x 49).
// A bound of 0 gives 0 for both; negative bounds give the negative sizes the arithmetic yields.
void FitToBounds(int32_t image_width, int32_t image_height, int32_t width_bound,
                 int32_t height_bound, int32_t* new_width, int32_t* new_height);

// Loads the image at `image_path`, converts it to the depth the format text asks for ("JPG":
// 24 bits, "GIF": 8 bits, searched in the upper-cased text, both may apply), fits it into the
// bounds and saves it beside a fresh placeholder file in the temporary directory.
// Returns the thumbnail path and sets `placeholder_path` to the placeholder file's path; the
// caller owns both files and deletes them. When the image cannot be loaded, returns an empty
// text, leaves `placeholder_path` as it was and creates no file. A non-empty result does not
// say that the thumbnail was written: look for the file.
// Throws CFileException when no name can be reserved in the temporary directory, and the class
// library's exceptions for exhausted memory; the image handle and any placeholder file are
// released on the way.
std::string MakeThumbnail(std::string width_text, std::string height_text, std::string format_text,
                          std::string quality_text, std::string image_path,
                          std::string& placeholder_path);
