// A file's picture as a GdkPixbuf: the one the tool writes to PNG (with
// its transparency where some pixel can be transparent), at the size the
// application asks for.
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>

// Where the XCF data is: a file by name (`path`) or a memory block.
struct PixbufInput {
  const char* path;
  const uint8_t* bytes;
  int32_t size;
};

// Asked of the picture before it is drawn: gdk-pixbuf's size function,
// which may change the size it is told (an application that wants a
// thumbnail), or none.
struct PixbufSizeAsk {
  void (*ask)(int* width, int* height, void* userData);
  void* userData;
};

// Decodes the input into a new pixbuf (non-premultiplied RGBA, or RGB where
// no pixel can be transparent), scaled by area averages where a smaller
// size is asked; null with *error set (GDK_PIXBUF_ERROR) otherwise, its
// message tessel's reason.
GdkPixbuf* DecodePixbuf(const PixbufInput& input, const PixbufSizeAsk& size, GError** error);
