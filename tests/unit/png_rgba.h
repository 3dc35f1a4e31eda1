// Test support: a PNG read back by libpng as RGBA, whatever its colour type.
#pragma once

#include <png.h>

#include <cstdint>
#include <string>

#include "tests/support/xcf_writer.h"

namespace xcftest {

// A PNG's pixels as RGBA, top-down; false where libpng cannot read it.
inline bool ReadPngRgba(const std::string& path, uint32_t* width, uint32_t* height, Bytes* rgba) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGBA;
  rgba->resize(PNG_IMAGE_SIZE(image));
  *width = image.width;
  *height = image.height;
  return png_image_finish_read(&image, nullptr, rgba->data(), 0, nullptr) != 0;
}

}  // namespace xcftest
