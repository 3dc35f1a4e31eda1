// A thread's working memory for the bands it draws, reused band after band.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessel {

struct DrawPlan;

// Memory that grows to the largest request and is reused.
class ScratchBytes {
 public:
  ScratchBytes() = default;
  ScratchBytes(const ScratchBytes&) = delete;
  ScratchBytes& operator=(const ScratchBytes&) = delete;
  ~ScratchBytes();
  // At least n bytes, their contents undefined; null when they cannot be had.
  uint8_t* Reserve(size_t n);

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A layer's decoded rows, its mask's, what its row function works in, the
// band's own rows where the arithmetic draws in rows of its own, and a
// group buffer per level of nesting.
class BandScratch {
 public:
  BandScratch() = default;
  BandScratch(const BandScratch&) = delete;
  BandScratch& operator=(const BandScratch&) = delete;
  ~BandScratch();
  // Room for the group buffers of a plan; false when it cannot be had.
  bool Fit(const DrawPlan& plan);

  ScratchBytes rows, mask, row, band;
  ScratchBytes* groups = nullptr;  // depth + 1 of them
  uint32_t levels = 0;
};

}  // namespace tessel
