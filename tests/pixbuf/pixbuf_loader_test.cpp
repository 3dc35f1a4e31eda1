// The gdk-pixbuf loader through its own table, as gdk-pixbuf calls it: a
// whole file and the same data in pieces give the tool's picture, the size
// asked for is the thumbnail's, bad data is a GError with the reason, and
// loads at once on several threads agree.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "plugin/entry.h"
#include "tests/support/picture.h"
#include "tests/support/random.h"
#include "tests/support/samples.h"
#include "tests/support/test_files.h"
#include "tools/thumbnail.h"

extern "C" void fill_vtable(GdkPixbufModule* module);
extern "C" void fill_info(GdkPixbufFormat* info);

namespace {

using xcftest::Bytes;

GdkPixbufModule Module() {
  GdkPixbufModule module{};
  fill_vtable(&module);
  return module;
}

struct PixbufUnref {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};
using Pixbuf = std::unique_ptr<GdkPixbuf, PixbufUnref>;

// A pixbuf's rows, without the padding.
Bytes PixelsOf(GdkPixbuf* p) {
  Bytes out;
  const size_t row = static_cast<size_t>(gdk_pixbuf_get_width(p)) * gdk_pixbuf_get_n_channels(p);
  for (int y = 0; y < gdk_pixbuf_get_height(p); ++y) {
    const guchar* r = gdk_pixbuf_get_pixels(p) + static_cast<size_t>(y) * gdk_pixbuf_get_rowstride(p);
    out.insert(out.end(), r, r + row);
  }
  return out;
}

// What the tool draws for a PNG, as a bitmap.
xcftest::Picture Draw(const Bytes& data) {
  return xcftest::Decode(data, nullptr, 0, tessel::kEveryVersion,
                         tessel::PictureChoice{tessel::PictureKind::Transparent, {0, 0, 0}});
}
Dib DibOf(const xcftest::Picture& p) { return Dib{p.header.data(), p.header.size(), p.bits.data(), p.bits.size()}; }

// A bitmap's rows as RGB or RGBA, top down, through the colour table of an
// 8-bit one.
Bytes RowsOf(const Dib& dib) {
  const DibLayout l = LayoutOf(dib);
  Bytes out;
  for (uint32_t y = 0; y < l.height; ++y) {
    const uint8_t* row = dib.bits + size_t{l.height - 1 - y} * l.rowSize;
    for (uint32_t x = 0; x < l.width; ++x) {
      const uint8_t* p = l.bitCount == 8 ? dib.info + 40 + 4 * row[x] : row + size_t{x} * l.bitCount / 8;
      out.insert(out.end(), {p[2], p[1], p[0]});
      if (l.bitCount == 32) out.push_back(p[3]);
    }
  }
  return out;
}

// The loader's incremental path: the data in pieces of the given sizes,
// the size function asking for `asked` (nothing where both are 0).
struct Loaded {
  Pixbuf pixbuf;
  std::string error;
  int code = -1;
  bool updatedWhole = false;
};
Loaded LoadInPieces(const Bytes& data, const std::vector<size_t>& pieces, int askedWidth = 0, int askedHeight = 0) {
  struct Calls {
    Loaded* loaded;
    int width, height;
  };
  Loaded loaded;
  Calls calls{&loaded, askedWidth, askedHeight};
  const GdkPixbufModule module = Module();
  GError* error = nullptr;
  auto size = [](gint* w, gint* h, gpointer user) {
    auto* c = static_cast<Calls*>(user);
    if (c->width != 0 || c->height != 0) *w = c->width, *h = c->height;
  };
  auto prepared = [](GdkPixbuf* p, GdkPixbufAnimation*, gpointer user) {
    static_cast<Calls*>(user)->loaded->pixbuf.reset(GDK_PIXBUF(g_object_ref(p)));
  };
  auto updated = [](GdkPixbuf* p, int x, int y, int w, int h, gpointer user) {
    static_cast<Calls*>(user)->loaded->updatedWhole =
        x == 0 && y == 0 && w == gdk_pixbuf_get_width(p) && h == gdk_pixbuf_get_height(p);
  };
  gpointer context = module.begin_load(size, prepared, updated, &calls, &error);
  size_t at = 0;
  bool ok = true;
  for (size_t i = 0; ok && at < data.size(); ++i) {
    const size_t n = std::min(pieces[i % pieces.size()], data.size() - at);
    ok = module.load_increment(context, data.data() + at, static_cast<guint>(n), &error);
    at += n;
  }
  // gdk-pixbuf ends every load with stop_load, whatever came before.
  ok = module.stop_load(context, ok ? &error : nullptr) && ok;
  if (error != nullptr) {
    loaded.error = error->message;
    loaded.code = error->code;
    g_error_free(error);
  }
  EXPECT_EQ(ok, loaded.pixbuf != nullptr);
  return loaded;
}

Pixbuf LoadWhole(const std::string& path, std::string* message, int* code) {
  const GdkPixbufModule module = Module();
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr) << path;
  if (f == nullptr) return nullptr;
  GError* error = nullptr;
  Pixbuf pixbuf(module.load(f, &error));
  std::fclose(f);
  if (error != nullptr) {
    *message = error->message;
    *code = error->code;
    g_error_free(error);
  }
  return pixbuf;
}

const xcftest::Sample& SampleNamed(const std::vector<xcftest::Sample>& samples, const std::string& name) {
  for (const xcftest::Sample& s : samples)
    if (s.name == name) return s;
  throw std::runtime_error("no sample " + name);
}

// Plain XCF alone is claimed by its bytes, never every gzip, bzip2 or xz
// file.
TEST(PixbufLoader, ClaimsOnlyItsOwnSignature) {
  GdkPixbufFormat info{};
  fill_info(&info);
  EXPECT_STREQ(info.signature[0].prefix, "gimp xcf ");
  EXPECT_EQ(info.signature[1].prefix, nullptr);
}

TEST(PixbufLoader, WholeAndInPiecesGiveTheToolsPicture) {
  const std::vector<xcftest::Sample> samples = xcftest::Samples();
  xcftest::Random random{7};
  int transparent = 0;
  for (const char* name : {"example.xcf", "example.xcf.bz2", "indexed-groups.xcf", "indexed-groups-hidden.xcf",
                           "modes.xcf", "modes-gray.xcf", "tree-hidden-parent.xcf"}) {
    SCOPED_TRACE(name);
    const Bytes& data = SampleNamed(samples, name).bytes;
    const xcftest::Picture expected = Draw(data);
    ASSERT_EQ(expected.code, 0) << expected.reason;
    const Bytes rows = RowsOf(DibOf(expected));
    const std::string path = xcftest::ScratchPath(std::string("pixbuf-") + name);
    xcftest::WriteFile(path, data);
    std::string message;
    int code = 0;
    Pixbuf whole = LoadWhole(path, &message, &code);
    ASSERT_NE(whole, nullptr) << message;
    EXPECT_EQ(PixelsOf(whole.get()), rows);
    const bool alpha = expected.bitCount == 32;
    EXPECT_EQ(gdk_pixbuf_get_has_alpha(whole.get()), alpha);
    transparent += alpha;
    // Pieces of one byte to a few thousand, as they come off a network.
    std::vector<size_t> pieces;
    for (int i = 0; i < 16; ++i) pieces.push_back(1 + random.Below(i % 2 ? 7 : 4096));
    Loaded parts = LoadInPieces(data, pieces);
    ASSERT_NE(parts.pixbuf, nullptr) << parts.error;
    EXPECT_EQ(PixelsOf(parts.pixbuf.get()), rows);
    EXPECT_TRUE(parts.updatedWhole);
  }
  EXPECT_GT(transparent, 0);
}

TEST(PixbufLoader, TheSizeAskedIsTheThumbnails) {
  const std::vector<xcftest::Sample> samples = xcftest::Samples();
  const Bytes& data = SampleNamed(samples, "example.xcf").bytes;
  const xcftest::Picture expected = Draw(data);
  ASSERT_EQ(expected.code, 0) << expected.reason;
  for (uint32_t size : {64u, 1u}) {
    OwnedDib thumbnail;
    ASSERT_TRUE(ScaleToFit(DibOf(expected), size, 1, &thumbnail));
    const DibLayout l = LayoutOf(thumbnail.View());
    Loaded loaded = LoadInPieces(data, {65536}, static_cast<int>(l.width), static_cast<int>(l.height));
    ASSERT_NE(loaded.pixbuf, nullptr) << loaded.error;
    EXPECT_EQ(gdk_pixbuf_get_width(loaded.pixbuf.get()), static_cast<int>(l.width));
    EXPECT_EQ(PixelsOf(loaded.pixbuf.get()), RowsOf(thumbnail.View()));
  }
  // Larger than the picture, another aspect: what is asked.
  Loaded larger = LoadInPieces(data, {65536}, 700, 90);
  ASSERT_NE(larger.pixbuf, nullptr) << larger.error;
  EXPECT_EQ(gdk_pixbuf_get_width(larger.pixbuf.get()), 700);
  EXPECT_EQ(gdk_pixbuf_get_height(larger.pixbuf.get()), 90);
  Loaded none = LoadInPieces(data, {65536}, 0, 10);
  EXPECT_EQ(none.pixbuf, nullptr);
  EXPECT_EQ(none.code, GDK_PIXBUF_ERROR_CORRUPT_IMAGE);
}

TEST(PixbufLoader, BadDataIsAnErrorWithTheReason) {
  const std::vector<xcftest::Sample> samples = xcftest::Samples();
  struct Case {
    const char* name;
    int code;
    const char* says;
  };
  for (const Case& c : {Case{"not-xcf.bin", GDK_PIXBUF_ERROR_UNKNOWN_TYPE, "(code 2)"},
                        Case{"truncated.xcf", GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "(code 6)"},
                        Case{"empty.xcf", GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "empty"},
                        Case{"tree-under-layer-damaged.xcf", GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "(code 3)"},
                        Case{"declared-name.xcf", GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "runs past the end"}}) {
    SCOPED_TRACE(c.name);
    const Bytes& data = SampleNamed(samples, c.name).bytes;
    Loaded parts = LoadInPieces(data, {1000});
    EXPECT_EQ(parts.code, c.code);
    EXPECT_NE(parts.error.find(c.says), std::string::npos) << parts.error;
    const std::string path = xcftest::ScratchPath(std::string("pixbuf-") + c.name);
    xcftest::WriteFile(path, data);
    std::string message;
    int code = -1;
    EXPECT_EQ(LoadWhole(path, &message, &code), nullptr);
    EXPECT_EQ(code, c.code) << message;
  }
}

// Several loads at once (the module says it is thread-safe): each the
// picture one load alone gives.
TEST(PixbufConcurrency, LoadsAtOnceAgree) {
  const std::vector<xcftest::Sample> samples = xcftest::Samples();
  const char* names[] = {"example.xcf.gz", "indexed-groups.xcf", "modes.xcf", "modes-gray.xcf"};
  std::vector<Bytes> alone;
  for (const char* name : names) alone.push_back(PixelsOf(LoadInPieces(SampleNamed(samples, name).bytes, {4096}).pixbuf.get()));
  std::vector<std::thread> threads;
  std::vector<int> agreed(8, 0);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        const size_t k = static_cast<size_t>(t + round) % 4;
        Loaded loaded = LoadInPieces(SampleNamed(samples, names[k]).bytes, {size_t(512 + t)});
        agreed[t] += loaded.pixbuf != nullptr && PixelsOf(loaded.pixbuf.get()) == alone[k];
      }
    });
  for (std::thread& t : threads) t.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(agreed[t], 3) << "thread " << t;
}

}  // namespace
