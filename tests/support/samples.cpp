#include "tests/support/samples.h"

namespace xcftest {

Image ExampleImage() {
  Image image{320, 240, 0};
  image.props.push_back(PropResolution(72.0f, 72.0f));
  // Top of the stack first.
  Layer title{120, 60, 1, "title", {PropOffsets(180, 150), PropMode(5), PropOpacity(200)}};
  title.pixels = Pattern(120, 60, 4, 7);
  Layer group{320, 240, 1, "group", {PropGroupItem(), PropOffsets(0, 0)}};
  Layer spot{100, 100, 1, "spot", {PropItemPath({1, 0}), PropOffsets(40, 30), PropMode(4)}};
  spot.pixels = Solid(100, 100, {250, 200, 40, 255});
  Mask round{100, 100};
  for (uint32_t y = 0; y < 100; ++y)
    for (uint32_t x = 0; x < 100; ++x) {
      int dx = static_cast<int>(x) - 50, dy = static_cast<int>(y) - 50;
      int d2 = dx * dx + dy * dy;
      round.pixels.push_back(d2 < 1600 ? 255 : (d2 < 2500 ? static_cast<uint8_t>(255 - (d2 - 1600) * 255 / 900) : 0));
    }
  spot.mask = round;
  Layer shade{200, 120, 0, "shade", {PropItemPath({1, 1}), PropOffsets(-20, 100), PropMode(3)}};
  shade.pixels = Pattern(200, 120, 3, 3);
  Layer hidden{320, 240, 0, "hidden", {PropVisible(0)}};
  hidden.pixels = Solid(320, 240, {255, 0, 0});
  Layer background{320, 240, 0, "background"};
  background.pixels = Pattern(320, 240, 3, 1);
  image.layers = {title, group, spot, shade, hidden, background};
  return image;
}

std::vector<Sample> Samples() {
  std::vector<Sample> samples;
  Bytes example = WriteXcf(ExampleImage());
  samples.push_back({"example.xcf", example});
  samples.push_back({"example.xcf.gz", Gzip(example)});
  samples.push_back({"example.xcf.bz2", Bzip2(example)});
  return samples;
}

}  // namespace xcftest
