// Whether a PNG that tessel wrote decodes, through libpng, to exactly the
// pixels of the BMP of the same picture (24-bit or 8-bit with its table):
// scripts/bench.sh asks it of both builds' PNGs.
// usage: tessel_png_matches_bmp PICTURE.png PICTURE.bmp
#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> ReadAll(const char* path) {
  std::vector<unsigned char> bytes;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return bytes;
  unsigned char chunk[1 << 16];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

unsigned U32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tessel_png_matches_bmp PICTURE.png PICTURE.bmp\n");
    return 2;
  }
  const std::vector<unsigned char> bmp = ReadAll(argv[2]);
  if (bmp.size() < 54 || bmp[0] != 'B' || bmp[1] != 'M') {
    std::fprintf(stderr, "%s: not a BMP\n", argv[2]);
    return 1;
  }
  const unsigned offset = U32(&bmp[10]), width = U32(&bmp[18]), height = U32(&bmp[22]);
  const unsigned bits = bmp[28] | bmp[29] << 8;
  const unsigned rowSize = ((bits * width + 31) / 32) * 4;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, argv[1])) {
    std::fprintf(stderr, "%s: %s\n", argv[1], image.message);
    return 1;
  }
  // Every pixel as blue, green, red, as the BMP stores it or its table says.
  image.format = PNG_FORMAT_BGR;
  std::vector<unsigned char> decoded(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr)) {
    std::fprintf(stderr, "%s: %s\n", argv[1], image.message);
    return 1;
  }
  if (image.width != width || image.height != height || offset + static_cast<size_t>(rowSize) * height > bmp.size()) {
    std::fprintf(stderr, "%s: %ux%u, the BMP %ux%u\n", argv[1], image.width, image.height, width, height);
    return 1;
  }
  size_t differing = 0;
  for (unsigned y = 0; y < height; ++y) {
    const unsigned char* row = &bmp[offset + static_cast<size_t>(height - 1 - y) * rowSize];
    const unsigned char* png = &decoded[static_cast<size_t>(y) * width * 3];
    for (unsigned x = 0; x < width; ++x) {
      const unsigned char* pixel = bits == 24 ? row + 3 * x : &bmp[54 + 4 * row[x]];
      differing += std::memcmp(pixel, png + 3 * x, 3) != 0;
    }
  }
  std::printf("%s: %ux%u, %zu pixels unlike the BMP's\n", argv[1], width, height, differing);
  return differing == 0 ? 0 : 1;
}
