// gdk-pixbuf's loader of GIMP XCF files: every GTK program that reads
// pictures through gdk-pixbuf (Eye of GNOME, Geeqie, Ristretto, tumbler)
// shows what the tessel tool writes to PNG, with its transparency.
//
// A whole file (gdk_pixbuf_new_from_file) is read where it lies; data
// handed over piece by piece (GdkPixbufLoader) is gathered in memory and
// decoded once it is whole.
// The module interface is gdk-pixbuf's "backend" part of its headers.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "pixbuf/pixbuf_picture.h"

namespace {

// The memory form takes a signed 32-bit size.
constexpr size_t kLargestInMemory = INT32_MAX;

void TooLarge(GError** error) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                      "the data is larger than the 2 GiB that can be read from memory");
}

void NoMemory(GError** error) {
  g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the file");
}

// A descriptor's file by name, for tessel to open: false where /proc is
// missing.
bool PathOf(int fd, char (&path)[64]) {
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  return access(path, R_OK) == 0;
}

// The data handed over so far: in an anonymous memory file where the
// system gives one (decoded through its name, as a whole file is), else
// in a block that grows. A growing block copies itself and touches fresh
// pages each time it doubles: for a photograph of 230 MB that costs more
// than drawing it, where writes to a memory file cost a tenth.
struct Gathered {
  int fd = -1;
  char path[64] = {};  // the memory file's name, where there is one
  std::vector<uint8_t> block;
  uint64_t size = 0;
  Gathered() {
    fd = memfd_create("xcf", MFD_CLOEXEC);
    if (fd >= 0 && !PathOf(fd, path)) {
      close(fd);
      fd = -1;
    }
  }
  ~Gathered() {
    if (fd >= 0) close(fd);
  }
  Gathered(const Gathered&) = delete;
  Gathered& operator=(const Gathered&) = delete;

  bool Append(const uint8_t* bytes, size_t count, GError** error) {
    if (fd < 0) {
      if (count > kLargestInMemory - block.size()) {
        TooLarge(error);
        return false;
      }
      try {
        block.insert(block.end(), bytes, bytes + count);
      } catch (const std::bad_alloc&) {
        NoMemory(error);
        return false;
      }
    }
    for (size_t done = 0; fd >= 0 && done < count;) {
      const ssize_t n = write(fd, bytes + done, count - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "the data cannot be kept: %s", g_strerror(errno));
        return false;
      }
      done += static_cast<size_t>(n);
    }
    size += count;
    return true;
  }

  GdkPixbuf* Decode(const PixbufSizeAsk& ask, GError** error) const {
    if (fd >= 0) return DecodePixbuf(PixbufInput{path, nullptr, 0}, ask, error);
    return DecodePixbuf(PixbufInput{nullptr, block.data(), static_cast<int32_t>(block.size())}, ask, error);
  }
};

// gdk-pixbuf hands the file open; tessel reads it by name, through the
// descriptor, without holding it in memory. Where /proc is missing, the
// file is gathered as data handed over piece by piece is.
GdkPixbuf* Load(FILE* file, GError** error) {
  char path[64];
  if (PathOf(fileno(file), path)) return DecodePixbuf(PixbufInput{path, nullptr, 0}, PixbufSizeAsk{nullptr, nullptr}, error);
  Gathered data;
  uint8_t piece[65536];
  for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;)
    if (!data.Append(piece, n, error)) return nullptr;
  return data.Decode(PixbufSizeAsk{nullptr, nullptr}, error);
}

// GdkPixbufLoader's calls, and the data had so far.
struct Incremental {
  GdkPixbufModuleSizeFunc size;
  GdkPixbufModulePreparedFunc prepared;
  GdkPixbufModuleUpdatedFunc updated;
  gpointer userData;
  Gathered data;
};

gpointer BeginLoad(GdkPixbufModuleSizeFunc size, GdkPixbufModulePreparedFunc prepared,
                   GdkPixbufModuleUpdatedFunc updated, gpointer userData, GError** error) {
  auto* context = new (std::nothrow) Incremental{size, prepared, updated, userData, {}};
  if (context == nullptr) NoMemory(error);
  return context;
}

gboolean LoadIncrement(gpointer data, const guchar* bytes, guint count, GError** error) {
  return static_cast<Incremental*>(data)->data.Append(bytes, count, error);
}

// gdk-pixbuf's size function, through the record the decoder asks.
void AskSize(int* width, int* height, void* userData) {
  auto* context = static_cast<Incremental*>(userData);
  context->size(width, height, context->userData);
}

// The whole data is had: the picture, told to the loader as prepared and
// then as whole. The context goes on every path.
gboolean StopLoad(gpointer data, GError** error) {
  auto* context = static_cast<Incremental*>(data);
  GdkPixbuf* pixbuf = nullptr;
  // No data at all is an empty file, as damaged as a short one.
  if (context->data.size == 0)
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_CORRUPT_IMAGE, "the file is empty");
  else
    pixbuf = context->data.Decode(PixbufSizeAsk{context->size != nullptr ? AskSize : nullptr, context}, error);
  if (pixbuf != nullptr) {
    if (context->prepared != nullptr) context->prepared(pixbuf, nullptr, context->userData);
    if (context->updated != nullptr)
      context->updated(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf), context->userData);
    g_object_unref(pixbuf);
  }
  delete context;
  return pixbuf != nullptr;
}

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = Load;
  module->begin_load = BeginLoad;
  module->load_increment = LoadIncrement;
  module->stop_load = StopLoad;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  // Plain XCF alone is known by its bytes: compressed files by their type
  // and name, never by claiming every gzip, bzip2 or xz file.
  static GdkPixbufModulePattern signature[] = {{const_cast<char*>("gimp xcf "), nullptr, 100},
                                               {nullptr, nullptr, 0}};
  static const gchar* mimeTypes[] = {"image/x-xcf", "image/x-compressed-xcf", nullptr};
  static const gchar* extensions[] = {"xcf", "xcf.gz", "xcfgz", "xcf.bz2", "xcfbz2", "xcf.xz", nullptr};
  info->name = const_cast<gchar*>("xcf");
  info->signature = signature;
  info->description = const_cast<gchar*>("GIMP XCF image");
  info->mime_types = const_cast<gchar**>(mimeTypes);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("");
}

}  // extern "C"
