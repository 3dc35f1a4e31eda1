#include "tests/support/xcf_writer.h"

#include <bzlib.h>
#include <zlib.h>
#ifdef TESSEL_HAVE_LZMA
#include <lzma.h>
#endif

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "xcf/layer.h"

namespace xcftest {

void ByteWriter::U32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v)};
  Raw(b, 4);
}

void ByteWriter::F32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  U32(bits);
}

void ByteWriter::Raw(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}

void ByteWriter::Str(const std::string& s) {
  if (s.empty()) {
    U32(0);
    return;
  }
  U32(static_cast<uint32_t>(s.size() + 1));
  Raw(s.data(), s.size());
  bytes_.push_back(0);
}

void ByteWriter::Pointer(uint32_t v, uint32_t bytes) {
  if (bytes == 8) U32(0);
  U32(v);
}

void ByteWriter::PatchPointer(size_t at, uint32_t v, uint32_t bytes) { PatchU32(at + bytes - 4, v); }

void ByteWriter::PatchU32(size_t at, uint32_t v) {
  bytes_[at] = static_cast<uint8_t>(v >> 24);
  bytes_[at + 1] = static_cast<uint8_t>(v >> 16);
  bytes_[at + 2] = static_cast<uint8_t>(v >> 8);
  bytes_[at + 3] = static_cast<uint8_t>(v);
}

namespace {

Property U32Prop(uint32_t id, uint32_t value) {
  ByteWriter w;
  w.U32(value);
  return {id, w.bytes()};
}

void WriteProps(ByteWriter& w, const std::vector<Property>& props) {
  for (const Property& p : props) {
    w.U32(p.id);
    w.U32(static_cast<uint32_t>(p.payload.size()));
    w.Raw(p.payload);
  }
  w.U32(0);
  w.U32(0);
}

// The plug-in's own table; a layer of a type it refuses is written with one
// byte per pixel.
uint32_t BytesPerPixel(uint32_t type) {
  const uint32_t bytes = tessel::XcfBytesPerPixel(type);
  return bytes != 0 ? bytes : 1;
}

// Hierarchy, first level and tiles of a w x h x bpp pixel block; returns
// the hierarchy's offset.
uint32_t WriteHierarchy(ByteWriter& w, uint32_t width, uint32_t height, uint32_t bpp, uint32_t statedBpp,
                        const Bytes& pixels, uint8_t compression, int32_t extraTiles, uint32_t pointerBytes) {
  if (pixels.size() != static_cast<size_t>(width) * height * bpp)
    throw std::invalid_argument("pixel block does not match its size");
  uint32_t hierarchy = static_cast<uint32_t>(w.Size());
  w.U32(width);
  w.U32(height);
  w.U32(statedBpp);
  size_t levelAt = w.Size();
  w.Pointer(0, pointerBytes);  // first level, patched
  w.Pointer(0, pointerBytes);  // no further levels
  w.PatchPointer(levelAt, static_cast<uint32_t>(w.Size()), pointerBytes);
  w.U32(width);
  w.U32(height);
  uint32_t columns = (width + 63) / 64;
  uint32_t rows = (height + 63) / 64;
  int64_t listed = static_cast<int64_t>(columns) * rows + extraTiles;
  size_t tableAt = w.Size();
  for (int64_t i = 0; i < listed; ++i) w.Pointer(0, pointerBytes);
  w.Pointer(0, pointerBytes);
  uint32_t index = 0;
  std::vector<uint32_t> offsets;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c, ++index) {
      uint32_t tw = std::min<uint32_t>(64, width - 64 * c);
      uint32_t th = std::min<uint32_t>(64, height - 64 * r);
      offsets.push_back(static_cast<uint32_t>(w.Size()));
      Bytes tile(static_cast<size_t>(tw) * th * bpp);
      for (uint32_t y = 0; y < th; ++y) {
        const uint8_t* src = pixels.data() + ((static_cast<size_t>(64 * r + y) * width) + 64 * c) * bpp;
        std::memcpy(tile.data() + static_cast<size_t>(y) * tw * bpp, src, static_cast<size_t>(tw) * bpp);
      }
      if (compression == 0) {
        w.Raw(tile);
        continue;
      }
      if (compression == 2) {
        w.Raw(Zlib(tile));
        continue;
      }
      Bytes plane(static_cast<size_t>(tw) * th);
      for (uint32_t k = 0; k < bpp; ++k) {
        for (size_t i = 0; i < plane.size(); ++i) plane[i] = tile[i * bpp + k];
        w.Raw(RleEncodePlane(plane.data(), plane.size()));
      }
    }
  }
  // Extra offsets point at the first tile; missing ones are simply absent.
  for (int64_t i = 0; i < listed; ++i)
    w.PatchPointer(tableAt + pointerBytes * i, i < static_cast<int64_t>(offsets.size()) ? offsets[i] : offsets[0],
                   pointerBytes);
  return hierarchy;
}

}  // namespace

// Bytes of one component of a precision word (versions 4 on; 150, 8-bit
// gamma, before them).
uint32_t ComponentBytes(int version, uint32_t precision) {
  if (version < 4) return 1;
  if (version == 4) return precision == 0 ? 1 : precision == 1 || precision == 3 ? 2 : 4;
  const uint32_t hundreds = precision / 100;
  if (version <= 6) return hundreds == 1 ? 1 : hundreds == 2 || hundreds == 4 ? 2 : 4;
  switch (hundreds) {
    case 1: return 1;
    case 2:
    case 5: return 2;
    case 7: return 8;
    default: return 4;
  }
}

Property PropOpacity(uint32_t opacity) { return U32Prop(6, opacity); }
Property PropMode(uint32_t mode) { return U32Prop(7, mode); }
Property PropVisible(uint32_t visible) { return U32Prop(8, visible); }
Property PropApplyMask(uint32_t apply) { return U32Prop(11, apply); }
Property PropOffsets(int32_t x, int32_t y) {
  ByteWriter w;
  w.I32(x);
  w.I32(y);
  return {15, w.bytes()};
}
Property PropGroupItem() { return {29, {}}; }
Property PropItemPath(const std::vector<int32_t>& path) {
  ByteWriter w;
  for (int32_t p : path) w.I32(p);
  return {30, w.bytes()};
}
Property PropCompression(uint8_t compression) { return {17, {compression}}; }
Property PropResolution(float x, float y) {
  ByteWriter w;
  w.F32(x);
  w.F32(y);
  return {19, w.bytes()};
}
Property PropColormap(const std::vector<uint8_t>& triples) {
  ByteWriter w;
  w.U32(static_cast<uint32_t>(triples.size() / 3));
  w.Raw(triples);
  return {1, w.bytes()};
}
Property PropRaw(uint32_t id, const Bytes& payload) { return {id, payload}; }

namespace {

// A zero-terminated table of n pointers, to be patched; where it starts.
size_t PointerTable(ByteWriter& w, size_t n, uint32_t pw) {
  const size_t at = w.Size();
  for (size_t i = 0; i <= n; ++i) w.Pointer(0, pw);
  return at;
}

void WriteFilters(ByteWriter& w, size_t table, const std::vector<Filter>& filters, int version, uint32_t pw) {
  for (size_t i = 0; i < filters.size(); ++i) {
    w.PatchPointer(table + pw * i, static_cast<uint32_t>(w.Size()), pw);
    w.Str(filters[i].name);
    w.Str("gegl");
    w.Str(filters[i].operation);
    if (version >= 22) w.Str("1");
    WriteProps(w, {});
    w.Pointer(0, pw);  // no mask
  }
}

}  // namespace

Bytes WriteXcf(const Image& image) {
  ByteWriter w;
  w.Raw("gimp xcf ", 9);
  w.Raw(image.tag.data(), image.tag.size());
  w.Raw("\0", 1);
  w.U32(image.width);
  w.U32(image.height);
  w.U32(image.baseType);
  const int version = image.tag == "file" ? 0 : std::atoi(image.tag.c_str() + 1);
  if (version >= 4) w.U32(image.precision);
  const uint32_t pw = version >= 11 ? 8 : 4;
  std::vector<Property> props = image.props;
  bool hasCompression = false;
  for (const Property& p : props) hasCompression |= p.id == 17;
  if (!hasCompression) props.push_back(PropCompression(image.compression));
  WriteProps(w, props);
  size_t layerTable = w.Size();
  for (size_t i = 0; i < image.layers.size(); ++i) w.Pointer(0, pw);
  w.Pointer(0, pw);
  w.Pointer(0, pw);  // no channels
  const size_t pathTable = version >= 18 ? PointerTable(w, image.paths, pw) : 0;

  for (size_t i = 0; i < image.layers.size(); ++i) {
    const Layer& layer = image.layers[i];
    w.PatchPointer(layerTable + pw * i, static_cast<uint32_t>(w.Size()), pw);
    w.U32(layer.width);
    w.U32(layer.height);
    w.U32(layer.type);
    w.Str(layer.name);
    WriteProps(w, layer.props);
    size_t pointers = w.Size();
    w.Pointer(0, pw);  // hierarchy
    w.Pointer(0, pw);  // mask
    const size_t filterTable = version >= 20 ? PointerTable(w, layer.filters.size(), pw) : 0;
    if (!layer.uniformPixel.empty()) {
      const uint32_t bpp = static_cast<uint32_t>(layer.uniformPixel.size());
      w.PatchPointer(pointers, static_cast<uint32_t>(w.Size()), pw);
      w.U32(layer.width);
      w.U32(layer.height);
      w.U32(bpp);
      w.Pointer(static_cast<uint32_t>(w.Size() + 2 * pw), pw);
      w.Pointer(0, pw);
      w.U32(layer.width);
      w.U32(layer.height);
      const uint32_t columns = (layer.width + 63) / 64, rows = (layer.height + 63) / 64;
      const uint64_t tiles = static_cast<uint64_t>(columns) * rows;
      const size_t table = w.Size();
      for (uint64_t i = 0; i <= tiles; ++i) w.Pointer(0, pw);
      uint32_t first = 0;
      for (uint64_t i = 0; i < tiles; ++i) {
        if (i > 0 && !layer.colourPerTile) {
          w.PatchPointer(table + pw * i, first, pw);
          continue;
        }
        if (i == 0) first = static_cast<uint32_t>(w.Size());
        w.PatchPointer(table + pw * i, static_cast<uint32_t>(w.Size()), pw);
        const uint32_t c = static_cast<uint32_t>(i % columns), r = static_cast<uint32_t>(i / columns);
        const uint32_t tw = std::min<uint32_t>(64, layer.width - 64 * c), th = std::min<uint32_t>(64, layer.height - 64 * r);
        Bytes pixel = layer.uniformPixel;
        const bool alpha = bpp == 2 || bpp == 4;
        if (layer.colourPerTile)
          for (uint32_t k = 0; k + (alpha ? 1 : 0) < bpp; ++k) pixel[k] = static_cast<uint8_t>(pixel[k] + i * (k + 1));
        if (image.compression == 0) {
          w.Raw(Solid(tw, th, pixel));
        } else if (image.compression == 2) {
          w.Raw(Zlib(Solid(tw, th, pixel)));
        } else {
          for (uint32_t k = 0; k < bpp; ++k) w.Raw(RleUniformPlane(tw * th, pixel[k]));
        }
      }
    } else if (!layer.pixels.empty()) {
      const bool indexed = layer.type == 4 || layer.type == 5;
      uint32_t bpp = BytesPerPixel(layer.type) * (indexed ? 1 : ComponentBytes(version, image.precision));
      uint32_t stated = layer.hierarchyBpp != 0 ? layer.hierarchyBpp : bpp;
      uint32_t at = WriteHierarchy(w, layer.width, layer.height, bpp, stated, layer.pixels, image.compression,
                                   layer.extraTileOffsets, pw);
      w.PatchPointer(pointers, at, pw);
    }
    if (layer.mask) {
      const Mask& mask = *layer.mask;
      w.PatchPointer(pointers + pw, static_cast<uint32_t>(w.Size()), pw);
      w.U32(mask.width);
      w.U32(mask.height);
      w.Str("mask");
      WriteProps(w, mask.props);
      size_t hierarchyAt = w.Size();
      w.Pointer(0, pw);
      const size_t maskFilters = version >= 26 ? PointerTable(w, mask.filters.size(), pw) : 0;
      uint32_t at = WriteHierarchy(w, mask.width, mask.height, mask.bpp, mask.bpp, mask.pixels, image.compression, 0, pw);
      w.PatchPointer(hierarchyAt, at, pw);
      if (version >= 26) WriteFilters(w, maskFilters, mask.filters, version, pw);
    }
    if (version >= 20) WriteFilters(w, filterTable, layer.filters, version, pw);
  }
  for (uint32_t i = 0; version >= 18 && i < image.paths; ++i) {
    w.PatchPointer(pathTable + pw * i, static_cast<uint32_t>(w.Size()), pw);
    w.Str("path");
  }
  return w.bytes();
}

Bytes RleUniformPlane(uint32_t n, uint8_t value) {
  if (n < 3) return Bytes(n == 1 ? Bytes{255, value} : Bytes{254, value, value});
  if (n <= 127) return Bytes{static_cast<uint8_t>(n - 1), value};
  return Bytes{127, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), value};
}

Bytes RleEncodePlane(const uint8_t* plane, size_t n) {
  Bytes out;
  size_t i = 0;
  while (i < n) {
    size_t run = 1;
    while (i + run < n && plane[i + run] == plane[i] && run < 65535) ++run;
    if (run >= 3) {
      if (run <= 127) {
        out.push_back(static_cast<uint8_t>(run - 1));
      } else {
        out.push_back(127);
        out.push_back(static_cast<uint8_t>(run >> 8));
        out.push_back(static_cast<uint8_t>(run));
      }
      out.push_back(plane[i]);
      i += run;
      continue;
    }
    // A literal run up to the next run of three equal bytes.
    size_t end = i;
    while (end < n && end - i < 65535) {
      if (end + 2 < n && plane[end] == plane[end + 1] && plane[end] == plane[end + 2]) break;
      ++end;
    }
    size_t count = end - i;
    if (count <= 127) {
      out.push_back(static_cast<uint8_t>(256 - count));
    } else {
      out.push_back(128);
      out.push_back(static_cast<uint8_t>(count >> 8));
      out.push_back(static_cast<uint8_t>(count));
    }
    out.insert(out.end(), plane + i, plane + end);
    i = end;
  }
  return out;
}

namespace {

Bytes Deflate(const Bytes& data, gz_header* header, size_t extra) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflate");
  if (header != nullptr && deflateSetHeader(&z, header) != Z_OK) throw std::runtime_error("deflate header");
  Bytes out(deflateBound(&z, data.size()) + 64 + extra);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int status = deflate(&z, Z_FINISH);
  size_t size = out.size() - z.avail_out;
  deflateEnd(&z);
  if (status != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(size);
  return out;
}

}  // namespace

Bytes Gzip(const Bytes& data) { return Deflate(data, nullptr, 0); }

Bytes Zlib(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 6) != Z_OK)
    throw std::runtime_error("zlib");
  out.resize(size);
  return out;
}

Bytes GzipWithHeader(const Bytes& data, const std::string& name, bool headerChecksum) {
  std::string copy = name;
  gz_header header{};
  header.name = reinterpret_cast<Bytef*>(copy.data());
  header.hcrc = headerChecksum ? 1 : 0;
  header.os = 3;
  return Deflate(data, &header, name.size() + 16);
}

Bytes Bzip2(const Bytes& data) {
  Bytes out(data.size() + data.size() / 100 + 1024);
  unsigned int size = static_cast<unsigned int>(out.size());
  int status = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                        const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                        static_cast<unsigned int>(data.size()), 9, 0, 0);
  if (status != BZ_OK) throw std::runtime_error("bzip2");
  out.resize(size);
  return out;
}

#ifdef TESSEL_HAVE_LZMA
Bytes Xz(const Bytes& data) {
  Bytes out(lzma_stream_buffer_bound(data.size()));
  size_t size = 0;
  if (lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr, data.data(), data.size(), out.data(), &size, out.size()) !=
      LZMA_OK)
    throw std::runtime_error("xz");
  out.resize(size);
  return out;
}
#endif

Bytes Solid(uint32_t width, uint32_t height, const Bytes& pixel) {
  Bytes out;
  out.reserve(static_cast<size_t>(width) * height * pixel.size());
  for (size_t i = 0; i < static_cast<size_t>(width) * height; ++i) out.insert(out.end(), pixel.begin(), pixel.end());
  return out;
}

Bytes Pattern(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed) {
  Bytes out(static_cast<size_t>(width) * height * bpp);
  uint32_t state = seed * 2654435761u + 1;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < bpp; ++c) {
        state = state * 1664525u + 1013904223u;
        uint32_t gradient = (x * (c + 1) * 7 + y * (3 - c % 3) * 5 + seed * 31) & 0xFF;
        uint32_t noise = (state >> 24) & 0x0F;
        out[(static_cast<size_t>(y) * width + x) * bpp + c] = static_cast<uint8_t>((gradient + noise) & 0xFF);
      }
    }
  }
  return out;
}

}  // namespace xcftest
