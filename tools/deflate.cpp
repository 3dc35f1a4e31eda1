#include "tools/deflate.h"

#include <algorithm>
#include <cstring>

namespace tesseltools {

namespace {

constexpr size_t kBlockInput = 1u << 17;  // bytes of input per block
constexpr uint32_t kMinRun = 4;           // shorter runs cost less as literals
constexpr uint32_t kMaxMatch = 258;
constexpr int kLiteralSymbols = 286;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeLength = 15;
constexpr int kMaxCodeLengthCode = 7;

// The order in which the code lengths of the code-length alphabet are sent.
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Match lengths 3 .. 258 as length symbols 257 .. 285 with their extra bits.
struct LengthCodes {
  uint16_t symbol[kMaxMatch + 1];
  uint8_t extraBits[kMaxMatch + 1];
  uint16_t extra[kMaxMatch + 1];
  constexpr LengthCodes() : symbol(), extraBits(), extra() {
    constexpr uint16_t base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                   31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    constexpr uint8_t bits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    for (uint32_t length = 3; length <= kMaxMatch; ++length) {
      int i = 28;
      while (base[i] > length) --i;
      symbol[length] = static_cast<uint16_t>(257 + i);
      extraBits[length] = bits[i];
      extra[length] = static_cast<uint16_t>(length - base[i]);
    }
  }
};
constexpr LengthCodes kLengths;

// Bits go out least significant first, as deflate wants them.
class BitWriter {
 public:
  explicit BitWriter(uint8_t* out) : out_(out) {}
  void Put(uint32_t value, uint32_t count) {
    bits_ |= static_cast<uint64_t>(value) << count_;
    count_ += count;
    if (count_ >= 32) {
      for (int i = 0; i < 4; ++i) *out_++ = static_cast<uint8_t>(bits_ >> (8 * i));
      bits_ >>= 32;
      count_ -= 32;
    }
  }
  // Pads with zero bits to the next byte.
  void Align() {
    while (count_ > 0) {
      *out_++ = static_cast<uint8_t>(bits_);
      bits_ >>= 8;
      count_ = count_ > 8 ? count_ - 8 : 0;
    }
    bits_ = 0;
  }
  uint8_t* End() const { return out_; }

 private:
  uint8_t* out_;
  uint64_t bits_ = 0;
  uint32_t count_ = 0;
};

// Huffman code lengths for the frequencies, none longer than `limit`: the
// optimal ones, or, where those are too long, those of frequencies halved
// until they fit.
void BuildLengths(const uint32_t* frequency, int n, int limit, uint8_t* lengths) {
  std::fill(lengths, lengths + n, 0);
  uint32_t weight[2 * kLiteralSymbols];
  int symbol[kLiteralSymbols];
  int leaves = 0;
  for (int s = 0; s < n; ++s)
    if (frequency[s] != 0) symbol[leaves++] = s;
  if (leaves == 0) return;
  if (leaves == 1) {
    lengths[symbol[0]] = 1;
    return;
  }
  uint32_t scaled[kLiteralSymbols];
  for (int i = 0; i < leaves; ++i) scaled[i] = frequency[symbol[i]];
  for (;;) {
    // Two queues: the leaves by weight, and the joined nodes, which come
    // out in order of weight by themselves.
    int order[kLiteralSymbols];
    for (int i = 0; i < leaves; ++i) order[i] = i;
    std::stable_sort(order, order + leaves, [&](int a, int b) { return scaled[a] < scaled[b]; });
    int parent[2 * kLiteralSymbols];
    for (int i = 0; i < leaves; ++i) weight[i] = scaled[order[i]];
    int nextLeaf = 0, nextJoined = leaves;
    for (int node = leaves; node < 2 * leaves - 1; ++node) {
      int pick[2];
      for (int& p : pick) {
        if (nextLeaf < leaves && (nextJoined >= node || weight[nextLeaf] <= weight[nextJoined])) {
          p = nextLeaf++;
        } else {
          p = nextJoined++;
        }
      }
      weight[node] = weight[pick[0]] + weight[pick[1]];
      parent[pick[0]] = parent[pick[1]] = node;
    }
    int depth[2 * kLiteralSymbols];
    depth[2 * leaves - 2] = 0;
    int longest = 0;
    for (int node = 2 * leaves - 3; node >= 0; --node) {
      depth[node] = depth[parent[node]] + 1;
      if (node < leaves) longest = std::max(longest, depth[node]);
    }
    if (longest <= limit) {
      for (int i = 0; i < leaves; ++i) lengths[symbol[order[i]]] = static_cast<uint8_t>(depth[i]);
      return;
    }
    for (int i = 0; i < leaves; ++i) scaled[i] = (scaled[i] + 1) / 2;
  }
}

// Canonical codes from lengths, bit-reversed for the least-significant-first
// bit order of deflate.
void BuildCodes(const uint8_t* lengths, int n, uint16_t* codes) {
  uint16_t count[kMaxCodeLength + 1] = {};
  for (int s = 0; s < n; ++s) ++count[lengths[s]];
  count[0] = 0;
  uint16_t next[kMaxCodeLength + 2] = {};
  for (int bits = 1, code = 0; bits <= kMaxCodeLength; ++bits) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = static_cast<uint16_t>(code);
  }
  for (int s = 0; s < n; ++s) {
    const int length = lengths[s];
    if (length == 0) continue;
    uint32_t code = next[length]++;
    uint32_t reversed = 0;
    for (int b = 0; b < length; ++b, code >>= 1) reversed = (reversed << 1) | (code & 1);
    codes[s] = static_cast<uint16_t>(reversed);
  }
}

// One block: its tokens are literals (0 .. 255) and matches at distance 1
// (256 + length).
void WriteBlock(const uint16_t* tokens, size_t count, BitWriter* out) {
  uint32_t literalFrequency[kLiteralSymbols] = {};
  uint32_t matches = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint16_t token = tokens[i];
    if (token < 256) {
      ++literalFrequency[token];
    } else {
      ++literalFrequency[kLengths.symbol[token - 256]];
      ++matches;
    }
  }
  literalFrequency[kEndOfBlock] = 1;
  uint8_t literalLengths[kLiteralSymbols];
  uint16_t literalCodes[kLiteralSymbols] = {};
  BuildLengths(literalFrequency, kLiteralSymbols, kMaxCodeLength, literalLengths);
  BuildCodes(literalLengths, kLiteralSymbols, literalCodes);
  // One distance, 1, for every match: a single one-bit code, or no code at
  // all when there is no match.
  const uint8_t distanceLength = matches > 0 ? 1 : 0;

  int literals = kLiteralSymbols;
  while (literals > 257 && literalLengths[literals - 1] == 0) --literals;
  uint8_t all[kLiteralSymbols + 1];
  std::memcpy(all, literalLengths, literals);
  all[literals] = distanceLength;
  const int total = literals + 1;

  // The code lengths, run-length coded: 16 repeats the last length 3 to 6
  // times, 17 and 18 give 3 to 10 and 11 to 138 zeros.
  uint8_t symbols[kLiteralSymbols + 1];
  uint8_t extras[kLiteralSymbols + 1];
  int coded = 0;
  uint32_t codeLengthFrequency[19] = {};
  for (int i = 0; i < total;) {
    const uint8_t length = all[i];
    int run = 1;
    while (i + run < total && all[i + run] == length) ++run;
    if (length == 0 && run >= 3) {
      const int take = std::min(run, 138);
      symbols[coded] = take >= 11 ? 18 : 17;
      extras[coded++] = static_cast<uint8_t>(take >= 11 ? take - 11 : take - 3);
      i += take;
    } else if (length != 0 && run >= 4) {
      symbols[coded] = length;
      extras[coded++] = 0;
      const int take = std::min(run - 1, 6);
      symbols[coded] = 16;
      extras[coded++] = static_cast<uint8_t>(take - 3);
      i += 1 + take;
    } else {
      symbols[coded] = length;
      extras[coded++] = 0;
      ++i;
    }
  }
  for (int i = 0; i < coded; ++i) ++codeLengthFrequency[symbols[i]];
  // A code of one symbol would be incomplete, which decoders refuse for
  // this alphabet: a second one completes it.
  int used = 0;
  for (uint32_t f : codeLengthFrequency) used += f != 0;
  if (used == 1) ++codeLengthFrequency[codeLengthFrequency[0] != 0 ? 1 : 0];
  uint8_t codeLengthLengths[19];
  uint16_t codeLengthCodes[19] = {};
  BuildLengths(codeLengthFrequency, 19, kMaxCodeLengthCode, codeLengthLengths);
  BuildCodes(codeLengthLengths, 19, codeLengthCodes);
  int sent = 19;
  while (sent > 4 && codeLengthLengths[kCodeLengthOrder[sent - 1]] == 0) --sent;

  out->Put(0, 1);  // not the final block
  out->Put(2, 2);  // dynamic Huffman codes
  out->Put(static_cast<uint32_t>(literals - 257), 5);
  out->Put(0, 5);  // one distance code
  out->Put(static_cast<uint32_t>(sent - 4), 4);
  for (int i = 0; i < sent; ++i) out->Put(codeLengthLengths[kCodeLengthOrder[i]], 3);
  static constexpr uint8_t kExtraBits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
  for (int i = 0; i < coded; ++i) {
    out->Put(codeLengthCodes[symbols[i]], codeLengthLengths[symbols[i]]);
    if (kExtraBits[symbols[i]] != 0) out->Put(extras[i], kExtraBits[symbols[i]]);
  }
  for (size_t i = 0; i < count; ++i) {
    const uint16_t token = tokens[i];
    if (token < 256) {
      out->Put(literalCodes[token], literalLengths[token]);
      continue;
    }
    const uint32_t length = token - 256u;
    const uint16_t symbol = kLengths.symbol[length];
    out->Put(literalCodes[symbol], literalLengths[symbol]);
    if (kLengths.extraBits[length] != 0) out->Put(kLengths.extra[length], kLengths.extraBits[length]);
    out->Put(0, 1);  // distance 1
  }
  out->Put(literalCodes[kEndOfBlock], literalLengths[kEndOfBlock]);
}

}  // namespace

void DeflatePiece(const uint8_t* data, size_t size, std::vector<uint8_t>* out) {
  const size_t start = out->size();
  // At most 15 bits a byte, and a header and an end per block.
  out->resize(start + size * 2 + (size / kBlockInput + 1) * 512 + 16);
  BitWriter bits(out->data() + start);
  std::vector<uint16_t> tokens(kBlockInput);
  for (size_t begin = 0; begin < size; begin += kBlockInput) {
    const size_t end = std::min(size, begin + kBlockInput);
    size_t count = 0;
    for (size_t i = begin; i < end;) {
      // A run of the byte before, within this piece and block.
      if (i > begin) {
        const uint8_t last = data[i - 1];
        size_t run = 0;
        const size_t most = std::min<size_t>(kMaxMatch, end - i);
        while (run < most && data[i + run] == last) ++run;
        if (run >= kMinRun) {
          tokens[count++] = static_cast<uint16_t>(256 + run);
          i += run;
          continue;
        }
      }
      tokens[count++] = data[i++];
    }
    WriteBlock(tokens.data(), count, &bits);
  }
  // An empty stored block ends the piece on a byte boundary.
  bits.Put(0, 3);
  bits.Align();
  const uint8_t stored[4] = {0x00, 0x00, 0xFF, 0xFF};
  uint8_t* end = bits.End();
  std::memcpy(end, stored, 4);
  out->resize(static_cast<size_t>(end + 4 - out->data()));
}

}  // namespace tesseltools
