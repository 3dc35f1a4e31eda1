#include "stream/spill_sink.h"

#include <cstdlib>
#include <new>

#include "stream/file_source.h"

namespace tessel {

namespace {
// Returns count, or 0 when the data could be kept nowhere.
uint32_t SpillSinkWrite(void* sink, const void* buffer, uint32_t count);
}  // namespace

namespace {

bool WriteAll(HANDLE file, const void* buffer, uint32_t count) {
  DWORD written = 0;
  return WriteFile(file, buffer, count, &written, nullptr) && written == count;
}

// A new file in the user's temporary folder, for reading and writing,
// that the system deletes when its handle is closed.
HANDLE OpenTemporaryFile() {
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH || GetTempFileNameA(folder, "xcf", 0, name) == 0) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  // The name was made for us; without its handle nothing would delete it.
  if (file == INVALID_HANDLE_VALUE) DeleteFileA(name);
  return file;
}

// Moves the bytes held in memory into a temporary file and frees them.
bool Spill(SpillSink* sink) {
  HANDLE file = OpenTemporaryFile();
  if (file == INVALID_HANDLE_VALUE) return false;
  MemorySink* memory = sink->memory;
  if (memory->size > 0 && !WriteAll(file, memory->data, memory->size)) {
    CloseHandle(file);
    return false;
  }
  sink->file = file;
  sink->fileSize = memory->size;
  std::free(memory->data);
  memory->data = nullptr;
  memory->capacity = memory->size = 0;
  return true;
}

}  // namespace

ResultCode SpillSinkCreate(SpillSink** holder, uint64_t limit) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  *holder = nullptr;
  auto* sink = new (std::nothrow)
      SpillSink{nullptr, nullptr, INVALID_HANDLE_VALUE, 0, limit < UINT32_MAX ? limit : UINT32_MAX, ResultCode::Ok};
  if (sink == nullptr) return ResultCode::OutOfMemory;
  sink->sink = new (std::nothrow) ByteSink{sink, SpillSinkWrite, nullptr};
  if (sink->sink == nullptr || MemorySinkCreate(&sink->memory) != ResultCode::Ok) {
    SpillSinkDestroy(&sink);
    return ResultCode::OutOfMemory;
  }
  *holder = sink;
  return ResultCode::Ok;
}

ResultCode SpillSinkDestroy(SpillSink** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  SpillSink* sink = *holder;
  if (sink == nullptr) return ResultCode::Ok;
  if (sink->file != INVALID_HANDLE_VALUE) CloseHandle(sink->file);
  MemorySinkDestroy(&sink->memory);
  delete sink->sink;
  delete sink;
  *holder = nullptr;
  return ResultCode::Ok;
}

namespace {

uint32_t SpillSinkWrite(void* handle, const void* buffer, uint32_t count) {
  auto* sink = static_cast<SpillSink*>(handle);
  if (sink == nullptr || (buffer == nullptr && count > 0)) return 0;
  if (sink->fileSize + sink->memory->size + count > sink->limit) {
    sink->refusal = ResultCode::TooLarge;
    return 0;
  }
  if (sink->file == INVALID_HANDLE_VALUE) {
    if (MemorySinkAppend(sink->memory, buffer, count) == count) return count;
    // Past 4 GiB the data is refused wherever it would go.
    sink->refusal = sink->memory->refusal;
    if (sink->refusal != ResultCode::OutOfMemory || !Spill(sink)) return 0;
    sink->refusal = ResultCode::Ok;
  }
  // A disk that cannot take the data leaves it with nowhere to go.
  if (!WriteAll(sink->file, buffer, count)) {
    sink->refusal = ResultCode::OutOfMemory;
    return 0;
  }
  sink->fileSize += count;
  return count;
}

}  // namespace

ResultCode SpillSinkTake(SpillSink* sink, MemorySink** memory, ByteStream** file) {
  if (sink == nullptr || memory == nullptr || file == nullptr) return ResultCode::InvalidArgument;
  *memory = nullptr;
  *file = nullptr;
  if (sink->file == INVALID_HANDLE_VALUE) {
    *memory = sink->memory;
    sink->memory = nullptr;
    return ResultCode::Ok;
  }
  HANDLE handle = sink->file;
  sink->file = INVALID_HANDLE_VALUE;
  return FileStreamOwn(handle, sink->fileSize, file);
}

}  // namespace tessel
