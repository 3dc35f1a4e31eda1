#include "tests/support/picture.h"

#include <cstring>

#include <atomic>

#include "plugin/dib.h"
#include "plugin/entry.h"

namespace xcftest {

namespace {
std::atomic<uint32_t> unexplained{0};
uint32_t U32LE(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
}  // namespace

Bytes Picture::At(uint32_t x, uint32_t y) const {
  const uint8_t* row = bits.data() + static_cast<size_t>(height - 1 - y) * rowSize;
  if (bitCount == 8) return {row[x]};
  if (bitCount == 32) {
    const uint8_t* p = row + 4 * x;
    return {p[2], p[1], p[0], p[3]};
  }
  const uint8_t* p = row + 3 * x;
  return {p[2], p[1], p[0]};
}

Bytes Picture::Rgba(uint32_t x, uint32_t y) const {
  Bytes px = At(x, y);
  if (bitCount == 8) {
    const Bytes e = Entry(px[0]);
    return {e[2], e[1], e[0], 255};
  }
  if (bitCount == 24) px.push_back(255);
  return px;
}

Bytes Picture::Entry(uint32_t i) const { return Bytes(header.begin() + 40 + 4 * i, header.begin() + 44 + 4 * i); }

Picture Decode(const Bytes& file, ProgressCallback callback, intptr_t userData, const tessel::Limits& limits,
               tessel::PictureChoice choice) {
  Picture picture;
  HLOCAL info = nullptr;
  HLOCAL bits = nullptr;
  tessel::Reason reason{};
  picture.code = tessel::GetPictureWith(reinterpret_cast<const char*>(file.data()), static_cast<int32_t>(file.size()),
                                        1, &info, &bits, callback, userData, limits, &reason, nullptr, nullptr,
                                        choice);
  picture.reason = reason.text;
  if (picture.code != 0 && picture.reason.empty()) ++unexplained;
  if (picture.code != 0) return picture;
  const auto* h = static_cast<const uint8_t*>(LocalLock(info));
  const auto* p = static_cast<const uint8_t*>(LocalLock(bits));
  picture.width = U32LE(h + 4);
  picture.height = U32LE(h + 8);
  picture.bitCount = h[14];
  picture.rowSize = tessel::BitmapRowSize(picture.bitCount, picture.width);
  const bool table = picture.bitCount == 8 || (picture.bitCount == 32 && U32LE(h + 32) != 0);
  picture.header.assign(h, h + (table ? 1064 : 40));
  picture.bits.assign(p, p + static_cast<size_t>(picture.rowSize) * picture.height);
  LocalUnlock(info);
  LocalUnlock(bits);
  LocalFree(info);
  LocalFree(bits);
  return picture;
}

Picture Decode(const Image& image) { return Decode(WriteXcf(image)); }

std::vector<std::string> FiltersOf(const Bytes& file) {
  struct Heard {
    tessel::FilterHook hook;  // first: the hook is the record
    std::vector<std::string> notes;
  } heard{{[](tessel::FilterHook* hook, const char* layer, const tessel::XcfFoundFilters& found) {
            reinterpret_cast<Heard*>(hook)->notes.push_back(
                std::string(layer) + (found.onMask ? "'s mask" : "") + (found.drawn ? "" : " (hidden)") + ": " +
                std::to_string(found.filters.count) + " " + found.filters.operations);
          }},
          {}};
  const int code = tessel::GetPictureFiltersWith(reinterpret_cast<const char*>(file.data()),
                                                 static_cast<int32_t>(file.size()), 1, &heard.hook,
                                                 tessel::kEveryVersion, nullptr);
  if (code != 0) heard.notes.push_back("code " + std::to_string(code));
  return heard.notes;
}

uint32_t UnexplainedFailures() { return unexplained.load(); }

Bytes TakeHandle(HLOCAL handle) {
  const auto* p = static_cast<const uint8_t*>(LocalLock(handle));
  Bytes bytes(p, p + LocalSize(handle));
  LocalUnlock(handle);
  LocalFree(handle);
  return bytes;
}

}  // namespace xcftest
