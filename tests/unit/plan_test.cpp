// The call's record and the plan: which arithmetic draws a picture, chosen
// once from the version, and a plan made in time linear in the layers,
// however wide a group.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "composite/composite.h"
#include "composite/request.h"
#include "tests/support/document.h"
#include "tests/support/picture.h"
#include "tests/support/samples.h"

using namespace tessel;
using namespace xcftest;

namespace {

// A picture of the canvas a composition drew, red first.
struct Drawn {
  ResultCode code;
  Bytes pixels;
};

Drawn Compose(const Bytes& file, const DrawRequest* request, uint32_t bytes = 3) {
  Document doc(file);
  doc.counting.stream->limits = &kEveryVersion;
  EXPECT_EQ(XcfLoad(doc.image), ResultCode::Ok);
  Drawn drawn{ResultCode::Ok, Bytes(static_cast<size_t>(doc.image->width) * doc.image->height * bytes)};
  PixelBuffer canvas{0, doc.image->width, doc.image->height, bytes, static_cast<int32_t>(doc.image->width * bytes),
                     drawn.pixels.data()};
  drawn.code = request == nullptr
                   ? CompositeImage(doc.image, &canvas, nullptr)
                   : CompositeImageWith(doc.image, &canvas, nullptr, CompositeOptions{*request, 1, false, nullptr});
  return drawn;
}

// Red at half alpha over the black canvas: the plug-in's integers take
// D(255 x 128) = 128; GIMP's floats take half of the light, 188 on the curve.
Bytes HalfRed(const char* tag) {
  Image image{2, 1, 0, tag};
  image.layers = {{2, 1, 1, "half red", {}, Solid(2, 1, {255, 0, 0, 128})}};
  return WriteXcf(image);
}

TEST(DrawRequest, ThePluginsVersionsAreItsIntegersEveryLaterOneGimpsBothOverBlack) {
  for (int32_t version = 0; version <= static_cast<int32_t>(kNewestXcfVersion); ++version) {
    const XcfFormat format{version, XcfPointerBytes(version), kGamma8};
    const DrawRequest request = ViewerRequest(format);
    EXPECT_EQ(request.arithmetic, version <= 3 ? Arithmetic::Integer8 : Arithmetic::Gimp) << version;
    EXPECT_EQ(request.backdrop, Backdrop::Black) << version;
  }
  // CompositeImage draws what the record says, and the record is all that
  // picks the arithmetic: the same layer drawn either way over black.
  const DrawRequest integer{Arithmetic::Integer8, Backdrop::Black, {0, 0, 0}};
  const DrawRequest gimp{Arithmetic::Gimp, Backdrop::Black, {0, 0, 0}};
  const Drawn plugin = Compose(HalfRed("v003"), nullptr);
  ASSERT_EQ(plugin.code, ResultCode::Ok);
  EXPECT_EQ(plugin.pixels, (Bytes{128, 0, 0, 128, 0, 0}));
  EXPECT_EQ(Compose(HalfRed("v003"), &integer).pixels, plugin.pixels);
  const Drawn asGimp = Compose(HalfRed("v003"), &gimp);
  ASSERT_EQ(asGimp.code, ResultCode::Ok);
  EXPECT_EQ(asGimp.pixels, (Bytes{188, 0, 0, 188, 0, 0}));
  const Drawn modern = Compose(HalfRed("v011"), nullptr);
  ASSERT_EQ(modern.code, ResultCode::Ok);
  EXPECT_EQ(modern.pixels, asGimp.pixels);
  // Over nothing the layer is what is left: its colour and its alpha, in
  // four bytes a pixel, whatever the version.
  const DrawRequest nothing{Arithmetic::Gimp, Backdrop::Nothing, {0, 0, 0}};
  for (const char* tag : {"v003", "v011"})
    EXPECT_EQ(Compose(HalfRed(tag), &nothing, 4).pixels, (Bytes{255, 0, 0, 128, 255, 0, 0, 128})) << tag;
  // Over a colour, as GIMP's Flatten Image lays it: white's light less the
  // half the layer covers.
  const DrawRequest white{Arithmetic::Gimp, Backdrop::Colour, {255, 255, 255}};
  const Drawn flat = Compose(HalfRed("v003"), &white);
  ASSERT_EQ(flat.code, ResultCode::Ok);
  EXPECT_EQ(flat.pixels, (Bytes{255, 187, 187, 255, 187, 187}));
}

// The time of the fastest of three compositions of the file.
double Fastest(const Bytes& file) {
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const auto start = std::chrono::steady_clock::now();
    const Picture p = Decode(file, nullptr, 0, kEveryVersion);
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    EXPECT_EQ(p.code, 0) << p.reason;
  }
  return best;
}

TEST(Plan, AWideGroupIsPlannedInTimeLinearInItsChildren) {
  // A group of N children, plain or passing through, in the plug-in's
  // version and in GIMP's: four times the children take about four times
  // as long. Asking each child for its group's bottom layer anew took
  // sixteen times as long (5.6 s for 16 384 children in a v011 file).
  for (const char* tag : {"v003", "v011"}) {
    for (bool passThrough : {false, true}) {
      if (passThrough && tag[3] == '3') continue;  // GIMP's mode alone
      Bytes files[2];
      for (int i = 0; i < 2; ++i) {
        Image image = WideGroup(i == 0 ? 2048 : 8192, 512, 512, tag);
        if (passThrough) image.layers[0].props.push_back(PropMode(61));
        files[i] = WriteXcf(image);
      }
      const double few = Fastest(files[0]), many = Fastest(files[1]);
      EXPECT_LT(many, 6 * few + 0.01) << tag << (passThrough ? " passing through" : "") << ": " << few << " s for 2048, "
                                      << many << " s for 8192";
    }
  }
}

}  // namespace
