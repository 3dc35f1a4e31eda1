// How far one picture lies from another, both PNG (any colour type, read
// by libpng as RGBA): the largest difference of a colour channel weighed by
// alpha (what shows of it), of alpha, and the share of pixels that differ
// at all. scripts/bench.sh, scripts/gimp-real-files.sh and the suites hold
// tessel's pictures to GIMP's with it.
// usage: tessel_picture_difference OURS.png THEIRS.png   (exit 0 within one level)
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool Read(const char* path, png_image* image, std::vector<unsigned char>* rgb) {
  *image = png_image{};
  image->version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(image, path)) return false;
  image->format = PNG_FORMAT_RGBA;
  rgb->resize(PNG_IMAGE_SIZE(*image));
  return png_image_finish_read(image, nullptr, rgb->data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tessel_picture_difference OURS.png THEIRS.png\n");
    return 2;
  }
  png_image a, b;
  std::vector<unsigned char> ours, theirs;
  if (!Read(argv[1], &a, &ours) || !Read(argv[2], &b, &theirs)) {
    std::fprintf(stderr, "%s, %s: not both PNG pictures\n", argv[1], argv[2]);
    return 2;
  }
  if (a.width != b.width || a.height != b.height) {
    std::printf("%s: %u x %u, not %u x %u\n", argv[1], a.width, a.height, b.width, b.height);
    return 1;
  }
  int largest = 0, alpha = 0;
  bool transparent = false;
  size_t off = 0;
  // A colour as much as shows of it: weighed by its alpha, rounded.
  auto shown = [](int c, int a) { return (c * a + 127) / 255; };
  for (size_t i = 0; i < ours.size(); i += 4) {
    int pixel = 0;
    for (int c = 0; c < 3; ++c)
      pixel = std::max(pixel, std::abs(shown(ours[i + c], ours[i + 3]) - shown(theirs[i + c], theirs[i + 3])));
    const int a = std::abs(ours[i + 3] - theirs[i + 3]);
    transparent = transparent || ours[i + 3] != 255 || theirs[i + 3] != 255;
    largest = std::max(largest, pixel);
    alpha = std::max(alpha, a);
    off += pixel != 0 || a != 0;
  }
  std::printf("%u x %u: largest difference %d", a.width, a.height, largest);
  if (transparent) std::printf(" (colour weighed by alpha), of alpha %d", alpha);
  std::printf(", %.2f %% of pixels off\n", 100.0 * static_cast<double>(off) / (static_cast<double>(a.width) * a.height));
  return largest <= 1 && alpha <= 1 ? 0 : 1;
}
