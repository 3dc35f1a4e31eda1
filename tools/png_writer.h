// Writing the plug-in's bitmap as PNG: whole, or band by band as it is
// drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "plugin/entry.h"
#include "tools/image_writer.h"

// How hard the PNG writer works: Fast (rows by the Average filter, zlib's
// run-length strategy, in pieces on threads) for whole pictures, Small
// (each row by its best filter, zlib's full search, one piece) for
// thumbnails.
enum class PngEffort { Fast, Small };

// 8-bit gray, palette or RGB, as the bitmap is; a 32-bit one as gray and
// alpha or RGBA, and an indexed one as a palette with a transparent entry
// where its alpha is all or nothing and its colours fit, else RGBA.
// Compressed by zlib in pieces on `threads` threads.
bool WritePng(const std::string& path, const Dib& dib, std::string* error, uint32_t threads = 1,
              PngEffort effort = PngEffort::Fast);

class PngPieces;

// A PNG written while the picture is drawn (PngEffort::Fast): its header
// as soon as the bitmap's is known, then each band of rows filtered and
// compressed on the thread that drew it and written as soon as the bands
// above it are. Nothing of the picture is held but bands that come early.
class PngStreamWriter {
 public:
  explicit PngStreamWriter(const std::string& path);
  ~PngStreamWriter();
  PngStreamWriter(const PngStreamWriter&) = delete;
  PngStreamWriter& operator=(const PngStreamWriter&) = delete;

  // What GetPictureWith tells of the bitmap as it is made.
  tessel::PictureSink* Sink() { return &sink_; }
  // Whether the picture is one whose PNG can only be chosen once it is
  // whole (an indexed picture with alpha): nothing was written, and the
  // caller writes it (WritePng) instead.
  bool Deferred() const;
  // Ends the file once the picture is whole; false with the reason.
  bool Finish(std::string* error);

 private:
  static void Begin(tessel::PictureSink* sink, const uint8_t* info, uint32_t infoSize);
  static void Rows(tessel::RowsHook* hook, uint32_t first, uint32_t count, const uint8_t* top, int32_t stride);
  tessel::PictureSink sink_;  // first: the sink, and its hook, are the writer
  std::unique_ptr<PngPieces> pieces_;
};
