#include "stream/file_source.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace tessel {

namespace {

constexpr uint32_t kFileReadAhead = 128 * 1024;

// The stream operations of a file source.
uint32_t FileRead(void* source, void* buffer, uint32_t count);
ResultCode FileSeek(void* source, uint32_t position);
// Closes a file tessel opened and frees the source record.
int FileClose(void* source);

// SetFilePointer to an absolute 64-bit position; true when it landed there.
bool SeekFileTo(HANDLE file, uint64_t target) {
  LONG high = static_cast<LONG>(static_cast<uint32_t>(target >> 32));
  DWORD low = SetFilePointer(file, static_cast<LONG>(static_cast<uint32_t>(target)), &high, FILE_BEGIN);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
  uint64_t reached = (static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low;
  return reached == target;
}

// One ReadFile at an absolute position of the file, whatever its pointer.
uint32_t ReadFileAt(HANDLE file, uint64_t at, void* buffer, uint32_t count) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(at);
  where.OffsetHigh = static_cast<DWORD>(at >> 32);
  DWORD read = 0;
  // At the end of the file a positional read may fail rather than read 0.
  if (!ReadFile(file, buffer, count, &read, &where)) return 0;
  return read;
}

// Makes the read-ahead hold the byte at the position, reading it from the
// file when it does not; false at the end of the file or on failure.
bool Buffer(FileSource* file) {
  if (file->position >= file->bufferAt && file->position < file->bufferAt + file->fill) return true;
  if (file->buffer == nullptr) {
    file->buffer = static_cast<uint8_t*>(std::malloc(file->capacity));
    if (file->buffer == nullptr) return false;
  }
  file->bufferAt = file->position;
  file->fill = ReadFileAt(file->file, static_cast<uint64_t>(file->startOffset) + file->position, file->buffer,
                          file->capacity);
  return file->fill != 0;
}

uint32_t ReadBuffered(FileSource* file, uint8_t* out, uint32_t count) {
  uint32_t done = 0;
  while (done < count) {
    const bool held = file->position >= file->bufferAt && file->position < file->bufferAt + file->fill;
    if (!held && count - done >= file->capacity) {
      // A read as large as the buffer goes straight to the caller.
      const uint32_t got = ReadFileAt(file->file, static_cast<uint64_t>(file->startOffset) + file->position,
                                      out + done, count - done);
      done += got;
      file->position += got;
      break;
    }
    if (!Buffer(file)) break;
    const auto offset = static_cast<uint32_t>(file->position - file->bufferAt);
    const uint32_t piece = count - done < file->fill - offset ? count - done : file->fill - offset;
    std::memcpy(out + done, file->buffer + offset, piece);
    done += piece;
    file->position += piece;
  }
  return done;
}

// The buffered bytes from the position on, up to count, refilling the
// read-ahead when it holds none.
uint32_t FileView(void* source, uint32_t count, const uint8_t** bytes) {
  auto* file = static_cast<FileSource*>(source);
  if (!Buffer(file)) return 0;
  const auto offset = static_cast<uint32_t>(file->position - file->bufferAt);
  const uint32_t n = count < file->fill - offset ? count : file->fill - offset;
  *bytes = file->buffer + offset;
  file->position += n;
  return n;
}

uint64_t FileRemaining(void* source) {
  auto* file = static_cast<FileSource*>(source);
  return file->size > file->position ? file->size - file->position : 0;
}

ResultCode FileFork(void* source, ByteStream** out);

// A stream over a positional source; the source is freed with it.
ResultCode PositionalStream(FileSource* source, ByteStream** out) {
  ByteStream* stream = nullptr;
  ResultCode result = StreamCreate(FileRead, FileSeek, source, FileClose, &stream);
  if (result != ResultCode::Ok) {
    FileClose(source);
    return result == ResultCode::InvalidArgument ? result : ResultCode::OutOfMemory;
  }
  stream->remaining = FileRemaining;
  stream->fork = FileFork;
  stream->view = FileView;
  *out = stream;
  return ResultCode::Ok;
}

// Reads are positional, so a second position and buffer over the same
// handle can be read on another thread.
ResultCode FileFork(void* source, ByteStream** out) {
  auto* file = static_cast<FileSource*>(source);
  auto* fork = new (std::nothrow)
      FileSource{file->file, file->startOffset, true, false, file->size, 0, nullptr, file->capacity, 0, 0};
  if (fork == nullptr) return ResultCode::OutOfMemory;
  return PositionalStream(fork, out);
}

// An owning positional stream over an open file, `bytes` long from startOffset.
ResultCode OwnFrom(HANDLE file, uint32_t startOffset, uint64_t bytes, ByteStream** out) {
  // A small file needs no more buffer than it has bytes.
  const auto capacity = static_cast<uint32_t>(bytes < kFileReadAhead ? (bytes > 0 ? bytes : 1) : kFileReadAhead);
  auto* source = new (std::nothrow) FileSource{file, startOffset, true, true, bytes, 0, nullptr, capacity, 0, 0};
  if (source == nullptr) {
    CloseHandle(file);
    return ResultCode::OutOfMemory;
  }
  return PositionalStream(source, out);
}

// What a system error code (GetLastError) means, in a few words.
const char* SystemErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND: return "no such file";
    case 3: return "no such folder";  // ERROR_PATH_NOT_FOUND
    case ERROR_ACCESS_DENIED: return "access denied (or a folder)";
    case 32: return "in use by another program";  // ERROR_SHARING_VIOLATION
    case ERROR_NOT_ENOUGH_MEMORY: return "no memory";
    case 123: return "not a valid file name";  // ERROR_INVALID_NAME
    default: return "a system error";
  }
}

}  // namespace


namespace {

uint32_t FileRead(void* source, void* buffer, uint32_t count) {
  auto* file = static_cast<FileSource*>(source);
  if (file == nullptr || buffer == nullptr) return 0;
  if (file->positional) return ReadBuffered(file, static_cast<uint8_t*>(buffer), count);
  DWORD read = 0;
  if (!ReadFile(file->file, buffer, count, &read, nullptr)) return 0;
  return read;
}

ResultCode FileSeek(void* source, uint32_t position) {
  auto* file = static_cast<FileSource*>(source);
  if (file == nullptr) return ResultCode::SeekError;
  if (file->positional) {
    // Reads are positional: a seek only moves the next read. A position
    // past the end is not an error; reading there gives nothing.
    file->position = position;
    return ResultCode::Ok;
  }
  uint64_t target = static_cast<uint64_t>(file->startOffset) + position;
  return SeekFileTo(file->file, target) ? ResultCode::Ok : ResultCode::SeekError;
}

int FileClose(void* source) {
  auto* file = static_cast<FileSource*>(source);
  if (file == nullptr) return 0;
  if (file->ownsFile) CloseHandle(file->file);
  std::free(file->buffer);
  delete file;
  return 0;
}

}  // namespace

ResultCode FileStreamOpen(const char* name, uint32_t startOffset, ByteStream** out, Reason* reason) {
  if (name == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    ReasonNote(reason, "the file cannot be opened: %s", SystemErrorText(GetLastError()));
    return ResultCode::ReadError;
  }
  if (startOffset > 0 && !SeekFileTo(file, startOffset)) {
    ReasonNote(reason, "the file cannot be read from byte %u on", startOffset);
    CloseHandle(file);
    return ResultCode::ReadError;
  }
  LARGE_INTEGER size;
  // Without a size the stream cannot tell what it holds, and no length is refused early.
  const uint64_t total = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : UINT64_MAX;
  return OwnFrom(file, startOffset, total > startOffset ? total - startOffset : 0, out);
}

ResultCode FileStreamOwn(HANDLE file, uint64_t size, ByteStream** out) {
  if (out == nullptr) {
    CloseHandle(file);
    return ResultCode::InvalidArgument;
  }
  return OwnFrom(file, 0, size, out);
}

ResultCode FileStreamWrap(FileSource* source, ByteStream** out) {
  if (source == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  return StreamCreate(FileRead, FileSeek, source, nullptr, out);
}

}  // namespace tessel
