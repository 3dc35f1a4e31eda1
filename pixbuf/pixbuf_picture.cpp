#include "pixbuf/pixbuf_picture.h"

#include <algorithm>
#include <new>
#include <thread>
#include <utility>

#include "plugin/entry.h"
#include "plugin/result.h"
#include "tools/thumbnail.h"

namespace {

// The bitmap's two handles, freed on every path unless the pixbuf takes
// the bits.
struct Handles {
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  Handles() = default;
  Handles(const Handles&) = delete;
  Handles& operator=(const Handles&) = delete;
  ~Handles() {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
  }
};

GdkPixbufError ErrorKindOf(int code) {
  switch (code) {
    case tessel::host::kNotThisFormat: return GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    case tessel::host::kCorrupt:
    case tessel::host::kReadError: return GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    case tessel::host::kOutOfMemory: return GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    default: return GDK_PIXBUF_ERROR_FAILED;
  }
}

// The plug-in's code and its reason, as the tool tells them.
void Fail(GError** error, int code, const tessel::Reason& reason) {
  if (tessel::ReasonKept(&reason))
    g_set_error(error, GDK_PIXBUF_ERROR, ErrorKindOf(code), "%s: %s (code %d)", tessel::HostCodeText(code),
                reason.text, code);
  else
    g_set_error(error, GDK_PIXBUF_ERROR, ErrorKindOf(code), "%s (code %d)", tessel::HostCodeText(code), code);
}

void OutOfMemory(GError** error) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                      "not enough memory for the picture");
}

// Rows of a bottom-up bitmap top-down and its blue and red swapped, in
// place: its memory becomes the pixbuf's as it is.
void ToPixbufOrder(uint8_t* bits, uint32_t width, uint32_t height, size_t rowSize, uint32_t channels) {
  for (uint32_t top = 0; top < (height + 1) / 2; ++top) {
    uint8_t* a = bits + size_t{top} * rowSize;
    uint8_t* b = bits + size_t{height - 1 - top} * rowSize;
    for (uint32_t x = 0; x < width; ++x, a += channels, b += channels) {
      const uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = channels == 4 ? a[3] : 0;
      a[0] = b[2], a[1] = b[1], a[2] = b[0];
      if (channels == 4) a[3] = b[3];
      b[0] = a2, b[1] = a1, b[2] = a0;
      if (channels == 4) b[3] = a3;
    }
  }
}

void FreeBits(guchar*, gpointer handle) {
  LocalUnlock(handle);
  LocalFree(handle);
}

// A bitmap copied into a new pixbuf: 8 bits through its colour table, 24
// as RGB, 32 as RGBA. Null when memory runs out.
GdkPixbuf* CopyOf(const Dib& dib) {
  const DibLayout l = LayoutOf(dib);
  const bool alpha = l.bitCount == 32;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, static_cast<int>(l.width),
                                     static_cast<int>(l.height));
  if (pixbuf == nullptr) return nullptr;
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const uint8_t* table = dib.info + 40;
  for (uint32_t y = 0; y < l.height; ++y) {
    const uint8_t* in = dib.bits + size_t{l.height - 1 - y} * l.rowSize;
    guchar* out = pixels + size_t{y} * static_cast<size_t>(stride);
    for (uint32_t x = 0; x < l.width; ++x) {
      const uint8_t* bgr = l.bitCount == 8 ? table + 4 * in[x] : in + size_t{x} * (l.bitCount / 8);
      *out++ = bgr[2];
      *out++ = bgr[1];
      *out++ = bgr[0];
      if (alpha) *out++ = bgr[3];
    }
  }
  return pixbuf;
}

}  // namespace

GdkPixbuf* DecodePixbuf(const PixbufInput& input, const PixbufSizeAsk& size, GError** error) {
  const char* buffer = input.path != nullptr ? input.path : reinterpret_cast<const char*>(input.bytes);
  const int32_t offsetOrSize = input.path != nullptr ? 0 : input.size;
  const uint32_t flag = input.path != nullptr ? 0 : 1;
  tessel::Reason reason{};
  int width = 0, height = 0;
  if (size.ask != nullptr) {
    PictureInfo info{};
    const int code = tessel::GetPictureInfoWith(buffer, offsetOrSize, flag, &info, tessel::kEveryVersion, &reason);
    if (code != tessel::host::kOk) {
      Fail(error, code, reason);
      return nullptr;
    }
    width = static_cast<int>(info.width);
    height = static_cast<int>(info.height);
    size.ask(&width, &height, size.userData);
    if (width <= 0 || height <= 0) {
      g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                          "the picture was asked for at a size of no pixels");
      return nullptr;
    }
  }
  Handles handles;
  const int code = tessel::GetPictureWith(buffer, offsetOrSize, flag, &handles.info, &handles.bits, nullptr, 0,
                                          tessel::kEveryVersion, &reason, nullptr, nullptr,
                                          tessel::PictureChoice{tessel::PictureKind::Transparent, {0, 0, 0}});
  if (code != tessel::host::kOk) {
    Fail(error, code, reason);
    return nullptr;
  }
  const auto* info = static_cast<const uint8_t*>(LocalLock(handles.info));
  auto* bits = static_cast<uint8_t*>(LocalLock(handles.bits));
  const Dib dib{info, LocalSize(handles.info), bits, LocalSize(handles.bits)};
  const DibLayout l = LayoutOf(dib);
  GdkPixbuf* pixbuf = nullptr;
  if (size.ask != nullptr && (static_cast<uint32_t>(width) != l.width || static_cast<uint32_t>(height) != l.height)) {
    // Scaled from the bitmap, which goes as soon as the smaller one is had.
    OwnedDib scaled;
    const uint32_t threads = std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
    if (ScaleTo(dib, static_cast<uint32_t>(width), static_cast<uint32_t>(height), threads, &scaled)) {
      LocalUnlock(handles.bits);
      LocalFree(handles.bits);
      handles.bits = nullptr;
      pixbuf = CopyOf(scaled.View());
    }
  } else if (l.bitCount == 8) {
    pixbuf = CopyOf(dib);
  } else {
    // The bitmap's own memory, turned round, is the pixbuf's.
    const uint32_t channels = l.bitCount / 8;
    ToPixbufOrder(bits, l.width, l.height, l.rowSize, channels);
    pixbuf = gdk_pixbuf_new_from_data(bits, GDK_COLORSPACE_RGB, channels == 4, 8, static_cast<int>(l.width),
                                      static_cast<int>(l.height), static_cast<int>(l.rowSize), FreeBits,
                                      handles.bits);
    if (pixbuf != nullptr) handles.bits = nullptr;
  }
  if (pixbuf == nullptr) OutOfMemory(error);
  return pixbuf;
}
