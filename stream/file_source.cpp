#include "stream/file_source.h"

#include <new>

namespace tessel {

namespace {

// SetFilePointer to an absolute 64-bit position; true when it landed there.
bool SeekFileTo(HANDLE file, uint64_t target) {
  LONG high = static_cast<LONG>(static_cast<uint32_t>(target >> 32));
  DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(target)), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  uint64_t reached = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  return reached == target;
}

}  // namespace

uint32_t FileRead(void* source, void* buffer, uint32_t count) {
  auto* file = static_cast<FileSource*>(source);
  DWORD read = 0;
  if (file == nullptr || !ReadFile(file->file, buffer, count, &read, nullptr)) return 0;
  return read;
}

ResultCode FileSeek(void* source, uint32_t position) {
  auto* file = static_cast<FileSource*>(source);
  if (file == nullptr) return ResultCode::SeekError;
  uint64_t target = static_cast<uint64_t>(file->startOffset) + position;
  return SeekFileTo(file->file, target) ? ResultCode::Ok : ResultCode::SeekError;
}

int FileClose(void* source) {
  auto* file = static_cast<FileSource*>(source);
  if (file == nullptr) return 0;
  CloseHandle(file->file);
  delete file;
  return 0;
}

ResultCode FileStreamOpen(const char* name, uint32_t startOffset, ByteStream** out) {
  if (name == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return ResultCode::ReadError;
  if (startOffset > 0 && !SeekFileTo(file, startOffset)) {
    CloseHandle(file);
    return ResultCode::ReadError;
  }
  auto* source = new (std::nothrow) FileSource{file, startOffset};
  if (source == nullptr) {
    CloseHandle(file);
    return ResultCode::OutOfMemory;
  }
  ByteStream* stream = nullptr;
  ResultCode result = StreamCreate(FileRead, FileSeek, source, FileClose, &stream);
  if (result != ResultCode::Ok) {
    FileClose(source);
    return result == ResultCode::InvalidArgument ? result : ResultCode::OutOfMemory;
  }
  *out = stream;
  return ResultCode::Ok;
}

ResultCode FileStreamWrap(FileSource* source, ByteStream** out) {
  if (source == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  return StreamCreate(FileRead, FileSeek, source, nullptr, out);
}

}  // namespace tessel
