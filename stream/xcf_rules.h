// Rules of the XCF data that two readers apply: the copy of a compressed
// file's leading part for the header summary (decompress.cpp) and the
// document reader (xcf/). Each rule is written here once.
#pragma once

#include <cstdint>

#include "plugin/result.h"
#include "stream/byte_stream.h"
#include "stream/detect.h"

namespace tessel {

constexpr uint32_t kMaxColormapColours = 256;
constexpr uint32_t kColormapCountBytes = 4;

// The answer to a parsed signature (XcfParseSignature's answer for the 14
// signature bytes): no "gimp xcf " is NotRecognised, a tag none of "file",
// "v001" to the newest version read UnsupportedVersion. Where the caller
// reads only the plug-in's versions (0 to 3) the reason lists them; where
// it reads more, a version past them is named as newer than this reader.
inline ResultCode XcfCheckSignature(const ByteStream* stream, const uint8_t* bytes, int32_t version) {
  if (version == -1) return StreamRefuse(stream, ResultCode::NotRecognised, "no XCF signature (\"gimp xcf \")");
  if (version == -2) {
    const uint32_t newest = StreamLimits(stream).newestVersion;
    const int32_t named = XcfTagVersion(bytes);
    if (newest > 3 && named > 0)
      return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                          "XCF version %d (tag \"v%03d\") is newer than the versions read here (up to %u)", named,
                          named, newest);
    char tag[5];
    for (int i = 0; i < 4; ++i) tag[i] = bytes[9 + i] >= 0x20 && bytes[9 + i] < 0x7F ? static_cast<char>(bytes[9 + i]) : '?';
    tag[4] = '\0';
    if (newest > 3)
      return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                          "version tag \"%s\" (then byte 0x%02X) is none of file, v001 to v%03u", tag, bytes[13],
                          newest);
    return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                        "version tag \"%s\" (then byte 0x%02X) is none of file, v001, v002, v003", tag, bytes[13]);
  }
  return ResultCode::Ok;
}

// What a pixel's channels are stored as, from XCF version 4 on (the
// plug-in's versions, 0 to 3, store 8-bit gamma integers): integers of 8, 16 or 32 bits, or
// IEEE floats of 16, 32 or 64 bits; the colour channels on a linear scale
// or on the sRGB curve (gamma). From version 12 on a component of more than
// one byte is big-endian.
enum class XcfComponent : uint8_t { U8, U16, U32, Half, Float, Double };
struct XcfPrecision {
  XcfComponent component;
  bool linear;
};
constexpr XcfPrecision kGamma8{XcfComponent::U8, false};

inline uint32_t XcfComponentBytes(XcfComponent component) {
  switch (component) {
    case XcfComponent::U8: return 1;
    case XcfComponent::U16:
    case XcfComponent::Half: return 2;
    case XcfComponent::U32:
    case XcfComponent::Float: return 4;
    case XcfComponent::Double: return 8;
  }
  return 1;
}

// How the rest of the data is read once the header is: what the stream's
// `format` points to.
struct XcfFormat {
  int32_t version;
  uint32_t pointerBytes;  // 4, or 8 from version 11 on
  XcfPrecision precision;
};

inline bool XcfHasPrecision(int32_t version) { return version >= 4; }
inline uint32_t XcfPointerBytes(int32_t version) { return version >= 11 ? 8 : 4; }
// Tiles compressed by zlib: from version 4 on, as GIMP reads them.
inline bool XcfHasZlibTiles(int32_t version) { return version >= 4; }

// The layout of the plug-in's versions (0 to 3), which the header itself
// is read by.
constexpr XcfFormat kPluginFormat{0, 4, kGamma8};
// How the stream's data is laid out: its header's format once the header
// is read, version 0's before.
inline const XcfFormat& XcfFormatOf(const ByteStream* stream) {
  return stream != nullptr && stream->format != nullptr ? *stream->format : kPluginFormat;
}
// GIMP 3's structures: a third list of pointers, to the paths, after the
// channels' (version 18); a zero-terminated list of pointers to a layer's
// non-destructive filters after its mask's (version 20), and to a channel's
// after its pixels' (version 26).
inline bool XcfHasPathList(int32_t version) { return version >= 18; }
inline bool XcfLayerHasFilters(int32_t version) { return version >= 20; }
inline bool XcfChannelHasFilters(int32_t version) { return version >= 26; }

// The precision word of the header, by GIMP's xcf.txt: version 4 numbered
// them 0 to 4, versions 5 and 6 by hundreds with the floats at 400 and 500,
// version 7 on by hundreds with the floats from 500 (the fifties are the
// gamma variants). Any other number is a variant this reader does not know.
inline ResultCode XcfDecodePrecision(const ByteStream* stream, int32_t version, uint32_t word, XcfPrecision* out) {
  using C = XcfComponent;
  struct Entry {
    uint32_t word;
    XcfPrecision precision;
  };
  static constexpr Entry kVersion4[] = {{0, {C::U8, false}},    {1, {C::U16, false}},   {2, {C::U32, true}},
                                        {3, {C::Half, true}},   {4, {C::Float, true}}};
  static constexpr Entry kVersion5[] = {{100, {C::U8, true}},   {150, {C::U8, false}},  {200, {C::U16, true}},
                                        {250, {C::U16, false}}, {300, {C::U32, true}},  {350, {C::U32, false}},
                                        {400, {C::Half, true}}, {450, {C::Half, false}}, {500, {C::Float, true}},
                                        {550, {C::Float, false}}};
  static constexpr Entry kVersion7[] = {{100, {C::U8, true}},    {150, {C::U8, false}},   {200, {C::U16, true}},
                                        {250, {C::U16, false}},  {300, {C::U32, true}},   {350, {C::U32, false}},
                                        {500, {C::Half, true}},  {550, {C::Half, false}}, {600, {C::Float, true}},
                                        {650, {C::Float, false}}, {700, {C::Double, true}}, {750, {C::Double, false}}};
  const Entry* first = version == 4 ? kVersion4 : version <= 6 ? kVersion5 : kVersion7;
  const size_t count = version == 4 ? 5 : version <= 6 ? 10 : 12;
  for (size_t i = 0; i < count; ++i) {
    if (first[i].word == word) {
      *out = first[i].precision;
      return ResultCode::Ok;
    }
  }
  return StreamRefuse(stream, ResultCode::UnsupportedVersion, "precision %u is none that XCF version %d knows", word,
                      version);
}

// The canvas size and base type of the header, in this order: a zero side
// is damage (CorruptData), a side beyond the stream's limits TooLarge, a
// base type above 2 (indexed) UnsupportedVersion. The prefix copy tests the
// limits too, so that a file gets the same answer compressed or not.
inline ResultCode XcfCheckCanvas(const ByteStream* stream, uint32_t width, uint32_t height, uint32_t baseType) {
  const Limits& limits = StreamLimits(stream);
  if (width == 0 || height == 0)
    return StreamRefuse(stream, ResultCode::CorruptData, "canvas %u x %u has no pixels", width, height);
  if (width > limits.canvasWidth)
    return StreamRefuse(stream, ResultCode::TooLarge, "canvas %u x %u is wider than %u", width, height,
                        limits.canvasWidth);
  if (height > limits.canvasHeight)
    return StreamRefuse(stream, ResultCode::TooLarge, "canvas %u x %u is taller than %u", width, height,
                        limits.canvasHeight);
  if (baseType > 2)
    return StreamRefuse(stream, ResultCode::UnsupportedVersion,
                        "base type %u is none of RGB (0), grayscale (1) and indexed (2)", baseType);
  return ResultCode::Ok;
}

// The payload length of a colormap property (PROP_COLORMAP): a 4-byte
// colour count n, then n RGB triples. A stored length below 4 is damage,
// found before the count is read (readCount(&n) reads it, returning a
// ResultCode). More than 256 colours is damage. A stored length of n + 4
// counts each colour as one byte and is repaired to 3n + 4; any other
// length below 3n + 4 is damage, and a longer one stands (its extra bytes
// belong to the property).
// The reasons are told through `stream`.
template <typename ReadCount>
ResultCode XcfColormapLength(const ByteStream* stream, uint32_t storedLength, ReadCount readCount, uint32_t* colours,
                             uint32_t* payloadLength) {
  if (storedLength < kColormapCountBytes)
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u bytes, too short for its colour count",
                        storedLength);
  uint32_t n;
  ResultCode result = readCount(&n);
  if (result != ResultCode::Ok) return result;
  if (n > kMaxColormapColours)
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u colours, more than 256", n);
  const uint32_t needed = 3 * n + kColormapCountBytes;
  uint32_t length = storedLength;
  if (length == n + kColormapCountBytes) {
    length = needed;
  } else if (length < needed) {
    return StreamRefuse(stream, ResultCode::CorruptData, "colormap of %u colours in %u bytes, fewer than %u", n,
                        storedLength, needed);
  }
  *colours = n;
  *payloadLength = length;
  return ResultCode::Ok;
}

}  // namespace tessel
