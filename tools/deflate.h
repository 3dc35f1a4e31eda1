// A deflate encoder made for filtered PNG rows, where a general LZ77
// search costs much and finds little: each block is coded with Huffman
// codes of its own bytes, and runs of one byte become matches at distance
// 1, so that flat areas shrink as well. Pieces of a picture are encoded on
// separate threads and joined into one stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tesseltools {

// Appends `data` to `out` as non-final deflate blocks that end on a byte
// boundary (an empty stored block ends them, as zlib's sync flush does).
// The pieces of consecutive data, one after the other and then
// kDeflateEnd, are one deflate stream of all the data.
void DeflatePiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out);

// A final, empty stored block: the end of a stream of pieces.
constexpr uint8_t kDeflateEnd[5] = {0x01, 0x00, 0x00, 0xFF, 0xFF};

}  // namespace tesseltools
