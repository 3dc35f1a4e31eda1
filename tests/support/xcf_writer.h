// Test support: builds XCF files in memory so that each test states its file
// in a few readable lines. Not part of the product.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xcftest {

using Bytes = std::vector<uint8_t>;

// Big-endian writer with back-patching of offsets.
class ByteWriter {
 public:
  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void F32(float v);
  void Raw(const void* data, size_t n);
  void Raw(const Bytes& b) { Raw(b.data(), b.size()); }
  void Str(const std::string& s);  // length with the NUL, bytes, NUL; empty: length 0
  size_t Size() const { return bytes_.size(); }
  void PatchU32(size_t at, uint32_t v);
  // A file pointer of 4 bytes, or 8 from version 11 on.
  void Pointer(uint32_t v, uint32_t bytes);
  void PatchPointer(size_t at, uint32_t v, uint32_t bytes);
  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

struct Property {
  uint32_t id;
  Bytes payload;
};

Property PropOpacity(uint32_t opacity);
Property PropMode(uint32_t mode);
Property PropVisible(uint32_t visible);
Property PropApplyMask(uint32_t apply);
Property PropOffsets(int32_t x, int32_t y);
Property PropGroupItem();
Property PropItemPath(const std::vector<int32_t>& path);
Property PropCompression(uint8_t compression);
Property PropResolution(float x, float y);
// A colour count and its RGB triples.
Property PropColormap(const std::vector<uint8_t>& triples);
Property PropRaw(uint32_t id, const Bytes& payload);

// A non-destructive filter of GIMP 3 (version 20 on): its record holds its
// name, icon and GEGL operation (then, from version 22, the operation's
// version), no arguments and no mask.
struct Filter {
  std::string name;
  std::string operation;
};

struct Mask {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<Property> props;
  Bytes pixels;       // width * height * bpp
  uint32_t bpp = 1;
  std::vector<Filter> filters;  // written from version 26 on
};

struct Layer {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t type = 1;
  std::string name = "layer";
  std::vector<Property> props;
  Bytes pixels;       // width * height * bytes per pixel; empty: no hierarchy
  std::optional<Mask> mask;
  std::vector<Filter> filters;  // written from version 20 on
  // Knobs for damaged files: the bytes per pixel the hierarchy states
  // (0: the true one), and tile offsets added (or, negative, removed).
  uint32_t hierarchyBpp = 0;
  int32_t extraTileOffsets = 0;
  // A layer of one colour stored as a single tile that every tile offset
  // points at, however large the layer (pixels stays empty).
  Bytes uniformPixel;
  // With uniformPixel: a colour of its own in every tile (the colour
  // channels of tile i moved on by i), each tile stored apart, so that a
  // large layer is a small file but every tile has to be decoded.
  bool colourPerTile = false;
};

struct Image {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t baseType = 0;
  std::string tag = "v001";
  std::vector<Property> props;  // PROP_COMPRESSION is added unless present
  uint8_t compression = 1;      // tiles: 0 raw, 1 RLE, 2 zlib (version 4 on)
  // From version 4 on: the precision word (150: 8-bit gamma); layers' and
  // masks' pixels are then stored with its components (big-endian from 12).
  uint32_t precision = 150;
  std::vector<Layer> layers;    // file order: top of the stack first
  uint32_t paths = 0;           // version 18 on: records in the list of paths (never read)
};

Bytes WriteXcf(const Image& image);

// Bytes of one component of a precision word (versions 4 on; before them
// every component is a byte).
uint32_t ComponentBytes(int version, uint32_t precision);

// One RLE-encoded plane: repeat runs of 3 or more bytes (short up to 127,
// long beyond), literal runs otherwise (short up to 127, long beyond).
Bytes RleEncodePlane(const uint8_t* plane, size_t n);
// A plane of n equal bytes, as RleEncodePlane encodes it.
Bytes RleUniformPlane(uint32_t n, uint8_t value);

Bytes Gzip(const Bytes& data);
// One zlib stream (zlib's header and checksum), as a zlib tile holds.
Bytes Zlib(const Bytes& data);
// gzip with a file name in its header (flag 0x08) and, if asked, a header
// checksum (flag 0x02).
Bytes GzipWithHeader(const Bytes& data, const std::string& name, bool headerChecksum);
Bytes Bzip2(const Bytes& data);
#ifdef TESSEL_HAVE_LZMA
// One xz stream, at xz's preset 1 (a dictionary of 1 MiB).
Bytes Xz(const Bytes& data);
#endif

// Helpers for pixels.
Bytes Solid(uint32_t width, uint32_t height, const Bytes& pixel);
// A deterministic pattern with some structure (gradients and noise).
Bytes Pattern(uint32_t width, uint32_t height, uint32_t bpp, uint32_t seed);

}  // namespace xcftest
