// The PNG writer's deflate encoder against zlib's inflate: whatever the
// bytes, pieces encoded apart and joined inflate to exactly those bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>
#include <vector>

#include "tests/support/random.h"
#include "tools/deflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Inflates a raw deflate stream; false when zlib refuses it or it does not
// end where its data does.
bool Inflate(const Bytes& stream, size_t expected, Bytes* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  out->assign(expected + 1, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out->data();
  z.avail_out = static_cast<uInt>(out->size());
  const int status = inflate(&z, Z_FINISH);
  out->resize(z.total_out);
  const bool whole = status == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole;
}

using xcftest::Random;

// Inputs that reach every path: literals only, runs of every length about
// the limits, one byte alone, frequencies skewed enough for codes longer
// than 15 bits, pieces across the block size.
std::vector<std::pair<std::string, Bytes>> Inputs() {
  std::vector<std::pair<std::string, Bytes>> inputs;
  Random random{12345};
  Bytes noise(300000);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random.Next());
  inputs.push_back({"noise", noise});
  inputs.push_back({"zeros", Bytes(400000, 0)});
  inputs.push_back({"one byte", Bytes(1, 7)});
  inputs.push_back({"empty", Bytes()});
  Bytes runs;
  for (uint32_t length = 1; length <= 600; ++length) runs.insert(runs.end(), length, static_cast<uint8_t>(length));
  inputs.push_back({"runs of every length", runs});
  Bytes skewed;
  // Frequencies that grow like Fibonacci numbers make a Huffman tree as
  // deep as there are symbols.
  uint64_t a = 1, b = 1;
  for (int symbol = 0; symbol < 26; ++symbol) {
    skewed.insert(skewed.end(), static_cast<size_t>(a), static_cast<uint8_t>(symbol * 7 + 1));
    const uint64_t c = a + b;
    a = b;
    b = c;
  }
  for (size_t i = 0; i < skewed.size(); ++i) std::swap(skewed[i], skewed[random.Next() % skewed.size()]);
  inputs.push_back({"skewed", skewed});
  Bytes photo(1u << 18);
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>((random.Next() % 9) - 4 + (i % 3 == 0 ? 128 : 0));
  inputs.push_back({"small differences", photo});
  Bytes two(1u << 17);
  for (size_t i = 0; i < two.size(); ++i) two[i] = static_cast<uint8_t>(i % 2);
  inputs.push_back({"two symbols, one block exactly", two});
  return inputs;
}

TEST(Deflate, PiecesInflateToTheirBytes) {
  for (const auto& [name, data] : Inputs()) {
    for (size_t pieces : {1u, 2u, 7u}) {
      Bytes stream;
      const size_t step = data.size() / pieces + 1;
      for (size_t at = 0; at < data.size() || (at == 0 && data.empty()); at += step) {
        const size_t n = std::min(step, data.size() - at);
        tesseltools::DeflatePiece(data.data() + at, n, &stream);
        if (data.empty()) break;
      }
      stream.insert(stream.end(), tesseltools::kDeflateEnd, tesseltools::kDeflateEnd + 5);
      Bytes back;
      ASSERT_TRUE(Inflate(stream, data.size(), &back)) << name << ", " << pieces << " pieces";
      ASSERT_EQ(back, data) << name << ", " << pieces << " pieces";
      if (name == "zeros") {
        EXPECT_LT(stream.size(), data.size() / 50) << "runs become matches";
      }
    }
  }
}

}  // namespace
