// The RLE tile decoder: the first three bytes choose the tile's width,
// height and bytes per pixel, the rest is its data.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/memory_source.h"
#include "xcf/tile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1u << 20)) return 0;
  const uint32_t tw = data[0] % 64 + 1;
  const uint32_t th = data[1] % 64 + 1;
  const uint32_t bpp = data[2] % 6 + 1;  // 5 and 6 take the plain path, as hostile masks do
  tessel::ByteStream* stream = nullptr;
  if (tessel::MemoryStreamOpen(static_cast<uint32_t>(size - 3), &stream, data + 3) != tessel::ResultCode::Ok) return 0;
  std::vector<uint8_t> tile(static_cast<size_t>(tw) * th * bpp);
  tessel::XcfReadTile(stream, tile.data(), tessel::kCompressionRle, tw, th, bpp);
  tessel::StreamDestroy(&stream);
  return 0;
}
