#include "plugin/result.h"

namespace tessel {

int MapResultToHost(ResultCode code) {
  switch (code) {
    case ResultCode::Ok: return host::kOk;
    case ResultCode::Cancelled: return host::kCancelled;
    case ResultCode::OutOfMemory: return host::kOutOfMemory;
    case ResultCode::LockFailed: return host::kLockFailed;
    case ResultCode::ReadError:
    case ResultCode::SeekError: return host::kReadError;
    case ResultCode::NotRecognised:
    case ResultCode::UnsupportedVersion: return host::kNotThisFormat;
    case ResultCode::CorruptData: return host::kCorrupt;
    default: return host::kOtherError;
  }
}

namespace {

// Every host code the plug-in gives, with its meaning.
struct HostCode {
  int code;
  const char* text;
};
constexpr HostCode kHostCodes[] = {
    {host::kOk, "success"},
    {host::kCancelled, "stopped by the progress callback"},
    {host::kNotThisFormat, "not a GIMP XCF file, or a variant it does not read"},
    {host::kCorrupt, "damaged data"},
    {host::kOutOfMemory, "out of memory"},
    {host::kLockFailed, "memory could not be locked"},
    {host::kReadError, "reading the file failed"},
    {host::kOtherError, "not readable"},
};

}  // namespace

const char* HostCodeText(int code) {
  for (const HostCode& entry : kHostCodes)
    if (entry.code == code) return entry.text;
  return "unknown failure";
}

}  // namespace tessel
