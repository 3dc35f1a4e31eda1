// Feeds one input to the plug-in as a host would: IsSupported with the
// first 2048 bytes, GetPictureInfo and GetPicture from memory (with a
// progress callback that cancels for some inputs), within limits that keep
// each run quick, and demands that every failure says why, that none is a
// fault of the reader's own, and that no local-memory handle is left alive.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_limits.h"
#include "plugin/entry.h"

namespace {

// A refusal that does not say why, or whose reason is a fault of the
// reader's own, is a finding.
void Judge(int code, const tessel::Reason& reason) {
  if (code != 0 && !tessel::ReasonKept(&reason)) std::abort();
  if (std::strncmp(reason.text, "internal fault", 14) == 0) std::abort();
}

int TESSEL_CALL CancelAt(int32_t current, int32_t, intptr_t userData) {
  return current == *reinterpret_cast<const int32_t*>(userData) ? 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > (64u << 20)) return 0;
  const auto* bytes = reinterpret_cast<const char*>(data);
  const auto length = static_cast<int32_t>(size);

  std::vector<char> block(2048, 0);
  std::memcpy(block.data(), data, size < block.size() ? size : block.size());
  IsSupported("fuzz.xcf.bz2", reinterpret_cast<uintptr_t>(block.data()));
  IsSupported("fuzz.xcf", reinterpret_cast<uintptr_t>(block.data()));

  const tessel::Limits limits = tesselfuzz::Limits();
  PictureInfo info{};
  tessel::Reason reason{};
  int code = tessel::GetPictureInfoWith(bytes, length, 1, &info, limits, &reason);
  Judge(code, reason);

  const int32_t cancelAt = data[size - 1] < 32 ? data[size - 1] % 8 : -1;
  HLOCAL header = nullptr;
  HLOCAL pixels = nullptr;
  reason = tessel::Reason{};
  code = tessel::GetPictureWith(bytes, length, 1, &header, &pixels, cancelAt >= 0 ? CancelAt : nullptr,
                                reinterpret_cast<intptr_t>(&cancelAt), limits, &reason);
  Judge(code, reason);
  if (code == 0) {
    LocalFree(header);
    LocalFree(pixels);
  }
  if (tesselfuzz::LiveLocalHandles() != 0) std::abort();  // a handle outlived the call
  return 0;
}
