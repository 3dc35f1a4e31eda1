#include "composite/scratch.h"

#include <cstdlib>
#include <new>

#include "composite/plan.h"

namespace tessel {

ScratchBytes::~ScratchBytes() { std::free(data_); }

uint8_t* ScratchBytes::Reserve(size_t n) {
  if (n <= size_ && data_ != nullptr) return data_;
  std::free(data_);
  size_ = 0;
  data_ = static_cast<uint8_t*>(std::malloc(n > 0 ? n : 1));
  if (data_ != nullptr) size_ = n;
  return data_;
}

BandScratch::~BandScratch() { delete[] groups; }

bool BandScratch::Fit(const DrawPlan& plan) {
  if (groups != nullptr && levels > plan.depth) return true;
  delete[] groups;
  levels = 0;
  groups = new (std::nothrow) ScratchBytes[static_cast<size_t>(plan.depth) + 1];
  if (groups == nullptr) return false;
  levels = plan.depth + 1;
  return true;
}

}  // namespace tessel
