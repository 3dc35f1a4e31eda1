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

const char* ResultText(ResultCode code) {
  switch (code) {
    case ResultCode::Ok: return "success";
    case ResultCode::InvalidArgument: return "invalid argument";
    case ResultCode::NotReady: return "not ready";
    case ResultCode::Unsupported: return "unsupported";
    case ResultCode::Cancelled: return "cancelled";
    case ResultCode::OutOfMemory: return "out of memory";
    case ResultCode::LockFailed: return "memory could not be locked";
    case ResultCode::ReadError: return "read error";
    case ResultCode::WriteError: return "write error";
    case ResultCode::SeekError: return "seek error";
    case ResultCode::NotRecognised: return "not recognised";
    case ResultCode::CorruptData: return "corrupt data";
    case ResultCode::UnsupportedVersion: return "unsupported version";
    case ResultCode::TooLarge: return "too large";
  }
  return "unknown result";
}

}  // namespace tessel
