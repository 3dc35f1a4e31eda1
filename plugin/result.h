// The result codes every operation of tessel returns, and their translation
// into the codes the host viewer understands.
#pragma once

#include <cstdint>

namespace tessel {

enum class ResultCode : int32_t {
  Ok = 0,
  InvalidArgument = 1,
  NotReady = 2,
  Unsupported = 3,
  Cancelled = 4,
  OutOfMemory = 5,
  LockFailed = 6,
  // 7 is not used.
  ReadError = 8,
  WriteError = 9,
  SeekError = 10,
  NotRecognised = 11,
  CorruptData = 12,
  UnsupportedVersion = 13,
  TooLarge = 14,
};

// The host's return codes of GetPictureInfo and GetPicture.
namespace host {
constexpr int kOk = 0;
constexpr int kCancelled = 1;
constexpr int kNotThisFormat = 2;
constexpr int kCorrupt = 3;
constexpr int kOutOfMemory = 4;
constexpr int kLockFailed = 5;
constexpr int kReadError = 6;
constexpr int kOtherError = 8;
}  // namespace host

// The only place where host codes arise from internal results.
int MapResultToHost(ResultCode code);

// What a host code means, in the words the tool, the test driver and the
// tests use for it; "unknown failure" for a code the plug-in never gives.
const char* HostCodeText(int code);

}  // namespace tessel
