// Feeds one input to the gdk-pixbuf loader as GdkPixbufLoader does: the
// data handed over in pieces cut where the input's first four bytes say,
// a size asked for or not as its fifth says. Demands a picture of the size
// asked with no error, or no picture and an error of gdk-pixbuf's domain
// that says why (never a fault of the reader's own), and that no handle of
// the bitmap outlives the load. Plain XCF only: fuzz_containers has the
// containers, and a picture larger than 2048 x 2048 is skipped to keep the
// runs quick, since the loader reads with the tool's limits.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_limits.h"
#include "plugin/entry.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

struct Asked {
  int width;
  int height;
  GdkPixbuf* pixbuf;
};

void Size(gint* width, gint* height, gpointer user) {
  auto* asked = static_cast<Asked*>(user);
  if (asked->width < 0) return;
  *width = asked->width;
  *height = asked->height;
}

void Prepared(GdkPixbuf* pixbuf, GdkPixbufAnimation*, gpointer user) {
  auto* asked = static_cast<Asked*>(user);
  if (asked->pixbuf != nullptr) std::abort();  // prepared twice
  asked->pixbuf = GDK_PIXBUF(g_object_ref(pixbuf));
}

bool Compressed(const uint8_t* data, size_t size) {
  return (size >= 2 && data[0] == 0x1F && data[1] == 0x8B) || (size >= 3 && std::memcmp(data, "BZh", 3) == 0) ||
         (size >= 5 && std::memcmp(data, "\xFD" "7zXZ", 5) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
  if (inputSize < 5 || inputSize > (16u << 20)) return 0;
  uint32_t state = (input[0] | input[1] << 8 | input[2] << 16 | static_cast<uint32_t>(input[3]) << 24) | 1u;
  const uint8_t ask = input[4];
  const uint8_t* data = input + 5;
  const size_t size = inputSize - 5;
  if (Compressed(data, size)) return 0;
  PictureInfo info{};
  tessel::Reason reason{};
  if (tessel::GetPictureInfoWith(reinterpret_cast<const char*>(data), static_cast<int32_t>(size), 1, &info,
                                 tessel::kEveryVersion, &reason) == 0 &&
      uint64_t{info.width} * info.height > 2048u * 2048u)
    return 0;

  GdkPixbufModule module{};
  fill_vtable(&module);
  // Half the inputs ask for nothing; the rest for a size of 0 to 63 each way.
  Asked asked{ask < 128 ? -1 : (ask >> 3) % 16 * 4, ask % 8 * 9, nullptr};
  GError* error = nullptr;
  gpointer context = module.begin_load(Size, Prepared, nullptr, &asked, &error);
  if (context == nullptr) std::abort();
  bool ok = true;
  for (size_t at = 0; ok && at < size;) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    const size_t piece = std::min<size_t>(size - at, 1 + state % (state & 1 ? 16 : 8192));
    ok = module.load_increment(context, data + at, static_cast<guint>(piece), &error);
    at += piece;
  }
  ok = module.stop_load(context, &error) && ok;

  if (ok != (asked.pixbuf != nullptr) || ok != (error == nullptr)) std::abort();
  if (ok && asked.width >= 0 &&
      (gdk_pixbuf_get_width(asked.pixbuf) != asked.width || gdk_pixbuf_get_height(asked.pixbuf) != asked.height))
    std::abort();
  // "WHAT: REASON (code N)": the code's text has no ": " of its own, and a
  // layer's name in the reason may say anything.
  const char* said = error != nullptr ? std::strstr(error->message, ": ") : nullptr;
  if (!ok && (error->domain != GDK_PIXBUF_ERROR || error->message[0] == '\0' ||
              (said != nullptr && std::strncmp(said + 2, "internal fault", 14) == 0)))
    std::abort();
  if (asked.pixbuf != nullptr) g_object_unref(asked.pixbuf);
  if (error != nullptr) g_error_free(error);
  if (tesselfuzz::LiveLocalHandles() != 0) std::abort();  // the bitmap outlived the load
  return 0;
}
