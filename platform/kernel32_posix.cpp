// Stand-in for the KERNEL32 calls on POSIX systems, written from what the
// plug-in expects of them: files through file descriptors, movable local
// memory as a record with a lock count, a single-byte ANSI code page.
#include "platform/kernel32.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sched.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

thread_local DWORD lastError = NO_ERROR;
std::atomic<uint32_t> liveLocalHandles{0};

constexpr uint32_t kLocalMagic = 0x4C4D454Du;  // "LMEM"

// One movable block: the record is the handle, the bytes follow it.
struct LocalBlock {
  uint32_t magic;
  uint32_t lockCount;
  size_t size;
  alignas(std::max_align_t) unsigned char data[1];
};

LocalBlock* BlockOf(HLOCAL mem) {
  auto* block = static_cast<LocalBlock*>(mem);
  if (block == nullptr || block->magic != kLocalMagic) return nullptr;
  return block;
}

// File handles are descriptors from 3 up: 0, 1 and 2 are the process's
// standard streams, which no file handle of Windows stands for. They stay
// below 0x10000, as the handles IsSupported is given do; every other handle
// is the address of a thread's record.
constexpr int kFirstFileHandle = 3;
constexpr intptr_t kHandleLimit = 0x10000;

int FdOf(HANDLE file) {
  auto value = reinterpret_cast<intptr_t>(file);
  if (value < kFirstFileHandle || value >= kHandleLimit) return -1;
  return static_cast<int>(value);
}

constexpr uint32_t kThreadMagic = 0x54485244u;  // "THRD"

struct ThreadRecord {
  uint32_t magic;
  pthread_t thread;
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
  bool joined;
};

ThreadRecord* ThreadOf(HANDLE object) {
  if (reinterpret_cast<intptr_t>(object) < kHandleLimit) return nullptr;
  auto* record = static_cast<ThreadRecord*>(object);
  return record->magic == kThreadMagic ? record : nullptr;
}

void* RunThread(void* argument) {
  auto* record = static_cast<ThreadRecord*>(argument);
  record->start(record->parameter);
  return nullptr;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
  }
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

// Reading an existing file, or (for a temporary file) reading and writing
// a new one; one that is deleted on closing leaves the folder at once, so
// that it goes with its last descriptor, also when the process dies.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD attributes, HANDLE) {
  const bool reading = access == GENERIC_READ && disposition == OPEN_EXISTING;
  const bool creating = access == (GENERIC_READ | GENERIC_WRITE) && disposition == CREATE_ALWAYS;
  if (name == nullptr || !(reading || creating)) {
    lastError = ERROR_INVALID_PARAMETER;
    return INVALID_HANDLE_VALUE;
  }
  int fd = reading ? ::open(name, O_RDONLY | O_CLOEXEC) : ::open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd >= kHandleLimit) {
    ::close(fd);
    lastError = ERROR_NOT_ENOUGH_MEMORY;  // no handle left that a host could pass on
    return INVALID_HANDLE_VALUE;
  }
  if (fd >= 0 && fd < kFirstFileHandle) {
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, kFirstFileHandle);
    ::close(fd);
    fd = moved;
  }
  if (fd < 0) {
    lastError = ErrorFromErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  // Windows refuses to open a directory this way.
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    lastError = ERROR_ACCESS_DENIED;
    return INVALID_HANDLE_VALUE;
  }
  if (creating && (attributes & FILE_FLAG_DELETE_ON_CLOSE) != 0) ::unlink(name);
  lastError = NO_ERROR;
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  if (written != nullptr) *written = 0;
  int fd = FdOf(file);
  if (fd < 0 || buffer == nullptr || overlapped != nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  DWORD done = 0;
  while (done < count) {
    ssize_t n = ::write(fd, static_cast<const unsigned char*>(buffer) + done, count - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      lastError = n < 0 ? ErrorFromErrno(errno) : ERROR_INVALID_PARAMETER;
      if (written != nullptr) *written = done;
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  if (written != nullptr) *written = done;
  lastError = NO_ERROR;
  return TRUE;
}

DWORD GetTempPathA(DWORD length, LPSTR buffer) {
  const char* folder = std::getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  const size_t size = std::strlen(folder);
  const bool slash = folder[size - 1] == '/';
  const size_t total = size + (slash ? 0 : 1);
  // Too small a buffer: the length it needs, with the NUL.
  if (buffer == nullptr || total + 1 > length) return static_cast<DWORD>(total + 1);
  std::memcpy(buffer, folder, size);
  if (!slash) buffer[size] = '/';
  buffer[total] = '\0';
  return static_cast<DWORD>(total);
}

UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR name) {
  if (folder == nullptr || prefix == nullptr || name == nullptr || unique != 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const size_t size = std::strlen(folder);
  char pattern[MAX_PATH];
  const int n = std::snprintf(pattern, sizeof pattern, "%s%s%.3sXXXXXX", folder,
                              size > 0 && folder[size - 1] == '/' ? "" : "/", prefix);
  if (n < 0 || static_cast<size_t>(n) >= sizeof pattern) {
    lastError = ERROR_INVALID_PARAMETER;
    return 0;
  }
  const int fd = ::mkstemp(pattern);
  if (fd < 0) {
    lastError = ErrorFromErrno(errno);
    return 0;
  }
  ::close(fd);
  std::memcpy(name, pattern, static_cast<size_t>(n) + 1);
  lastError = NO_ERROR;
  return 1;
}

void OutputDebugStringA(LPCSTR) {}

BOOL DeleteFileA(LPCSTR name) {
  if (name == nullptr || ::unlink(name) != 0) {
    lastError = name == nullptr ? ERROR_INVALID_PARAMETER : ErrorFromErrno(errno);
    return FALSE;
  }
  lastError = NO_ERROR;
  return TRUE;
}

// With an OVERLAPPED the read starts at its position, and the file pointer
// ends after the bytes read, as a synchronous handle's does on Windows; a
// read that starts at or past the end fails with ERROR_HANDLE_EOF.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  if (read != nullptr) *read = 0;
  int fd = FdOf(file);
  if (fd < 0 || buffer == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (overlapped != nullptr) {
    const off_t at = static_cast<off_t>((static_cast<uint64_t>(overlapped->OffsetHigh) << 32) | overlapped->Offset);
    DWORD done = 0;
    while (done < count) {
      ssize_t n = ::pread(fd, static_cast<unsigned char*>(buffer) + done, count - done, at + done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        lastError = ErrorFromErrno(errno);
        return FALSE;
      }
      if (n == 0) break;
      done += static_cast<DWORD>(n);
    }
    ::lseek(fd, at + done, SEEK_SET);
    if (read != nullptr) *read = done;
    if (done == 0 && count > 0) {
      lastError = ERROR_HANDLE_EOF;
      return FALSE;
    }
    lastError = NO_ERROR;
    return TRUE;
  }
  DWORD done = 0;
  while (done < count) {
    ssize_t n = ::read(fd, static_cast<unsigned char*>(buffer) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError = ErrorFromErrno(errno);
      if (read != nullptr) *read = done;
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  if (read != nullptr) *read = done;
  lastError = NO_ERROR;
  return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method) {
  int fd = FdOf(file);
  if (fd < 0 || method != FILE_BEGIN) {
    lastError = ERROR_INVALID_HANDLE;
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = static_cast<int64_t>(static_cast<uint32_t>(distanceLow));
  if (distanceHigh != nullptr) {
    target = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                  static_cast<uint32_t>(distanceLow));
  }
  if (target < 0) {
    lastError = ERROR_NEGATIVE_SEEK;
    return INVALID_SET_FILE_POINTER;
  }
  off_t at = ::lseek(fd, static_cast<off_t>(target), SEEK_SET);
  if (at < 0) {
    lastError = ErrorFromErrno(errno);
    return INVALID_SET_FILE_POINTER;
  }
  uint64_t position = static_cast<uint64_t>(at);
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(static_cast<uint32_t>(position >> 32));
  // A low part equal to the invalid value is only an error if the last error says so.
  lastError = NO_ERROR;
  return static_cast<DWORD>(position & 0xFFFFFFFFu);
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
  int fd = FdOf(file);
  struct stat info;
  if (fd < 0 || size == nullptr || ::fstat(fd, &info) != 0) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  size->QuadPart = static_cast<int64_t>(info.st_size);
  lastError = NO_ERROR;
  return TRUE;
}

DWORD GetLastError() { return lastError; }

BOOL CloseHandle(HANDLE object) {
  if (ThreadRecord* record = ThreadOf(object)) {
    if (!record->joined) ::pthread_detach(record->thread);
    record->magic = 0;
    delete record;
    return TRUE;
  }
  int fd = FdOf(object);
  if (fd < 0 || ::close(fd) != 0) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  return TRUE;
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (flags != LMEM_MOVEABLE || bytes > SIZE_MAX - sizeof(LocalBlock)) {
    lastError = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  void* raw = std::malloc(sizeof(LocalBlock) + bytes);
  if (raw == nullptr) {
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  auto* block = static_cast<LocalBlock*>(raw);
  block->magic = kLocalMagic;
  block->lockCount = 0;
  block->size = bytes;
  liveLocalHandles.fetch_add(1, std::memory_order_relaxed);
  return block;
}

LPVOID LocalLock(HLOCAL mem) {
  LocalBlock* block = BlockOf(mem);
  // A movable block of size 0 is discarded and cannot be locked.
  if (block == nullptr || block->size == 0) {
    lastError = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  ++block->lockCount;
  return block->data;
}

BOOL LocalUnlock(HLOCAL mem) {
  LocalBlock* block = BlockOf(mem);
  if (block == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  if (block->lockCount == 0) {
    lastError = ERROR_NOT_LOCKED;
    return FALSE;
  }
  --block->lockCount;
  lastError = NO_ERROR;
  return block->lockCount > 0 ? TRUE : FALSE;
}

HLOCAL LocalFree(HLOCAL mem) {
  if (mem == nullptr) return nullptr;
  LocalBlock* block = BlockOf(mem);
  if (block == nullptr) {
    lastError = ERROR_INVALID_HANDLE;
    return mem;
  }
  block->magic = 0;
  std::free(block);
  liveLocalHandles.fetch_sub(1, std::memory_order_relaxed);
  return nullptr;
}

SIZE_T LocalSize(HLOCAL mem) {
  LocalBlock* block = BlockOf(mem);
  return block == nullptr ? 0 : block->size;
}

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength) {
  if (dest == nullptr || src == nullptr || maxLength <= 0) return nullptr;
  int i = 0;
  for (; i < maxLength - 1 && src[i] != '\0'; ++i) dest[i] = src[i];
  dest[i] = '\0';
  return dest;
}

int lstrlenA(LPCSTR text) {
  if (text == nullptr) return 0;
  size_t length = std::strlen(text);
  return length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  for (;; ++a, ++b) {
    char ca = FoldCase(*a);
    char cb = FoldCase(*b);
    if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    if (ca == '\0') return 0;
  }
}

// The stand-in's ANSI code page is single-byte: no character leads a pair.
BOOL IsDBCSLeadByteEx(UINT, BYTE) { return FALSE; }

BOOL IsBadReadPtr(const void* pointer, UINT_PTR bytes) {
  if (bytes == 0) return FALSE;
  if (pointer == nullptr) return TRUE;
  // Ask the kernel to copy the range from our own address space: it reports
  // an unreadable page instead of faulting.
  unsigned char scratch[4096];
  auto address = reinterpret_cast<uintptr_t>(pointer);
  UINT_PTR done = 0;
  while (done < bytes) {
    size_t piece = bytes - done < sizeof scratch ? bytes - done : sizeof scratch;
    struct iovec local = {scratch, piece};
    struct iovec remote = {reinterpret_cast<void*>(address + done), piece};
    ssize_t n = ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0);
    if (n < 0) return errno == EFAULT ? TRUE : FALSE;
    if (static_cast<size_t>(n) != piece) return TRUE;
    done += piece;
  }
  return FALSE;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD,
                    LPDWORD threadId) {
  auto* record = new (std::nothrow) ThreadRecord{kThreadMagic, {}, start, parameter, false};
  if (record == nullptr || start == nullptr) {
    delete record;
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  if (::pthread_create(&record->thread, nullptr, RunThread, record) != 0) {
    delete record;
    lastError = ERROR_NOT_ENOUGH_MEMORY;
    return nullptr;
  }
  if (threadId != nullptr) *threadId = 0;
  return record;
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  ThreadRecord* record = ThreadOf(object);
  if (record == nullptr || milliseconds != INFINITE) {
    lastError = ERROR_INVALID_HANDLE;
    return WAIT_FAILED;
  }
  if (!record->joined) {
    ::pthread_join(record->thread, nullptr);
    record->joined = true;
  }
  return WAIT_OBJECT_0;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

BOOL GetProcessAffinityMask(HANDLE, PDWORD_PTR processMask, PDWORD_PTR systemMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (processMask == nullptr || systemMask == nullptr || ::sched_getaffinity(0, sizeof set, &set) != 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  DWORD_PTR mask = 0;
  for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
    if (CPU_ISSET(cpu, &set)) mask |= static_cast<DWORD_PTR>(1) << cpu;
  *processMask = mask;
  *systemMask = mask;
  return TRUE;
}

BOOL SetProcessAffinityMask(HANDLE, DWORD_PTR processMask) {
  cpu_set_t set;
  CPU_ZERO(&set);
  for (unsigned cpu = 0; cpu < sizeof(DWORD_PTR) * 8; ++cpu)
    if ((processMask >> cpu) & 1) CPU_SET(cpu, &set);
  if (processMask == 0 || ::sched_setaffinity(0, sizeof set, &set) != 0) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  return TRUE;
}

void InitializeCriticalSection(LPCRITICAL_SECTION section) { ::pthread_mutex_init(&section->mutex, nullptr); }
void EnterCriticalSection(LPCRITICAL_SECTION section) { ::pthread_mutex_lock(&section->mutex); }
void LeaveCriticalSection(LPCRITICAL_SECTION section) { ::pthread_mutex_unlock(&section->mutex); }
void DeleteCriticalSection(LPCRITICAL_SECTION section) { ::pthread_mutex_destroy(&section->mutex); }
void InitializeConditionVariable(PCONDITION_VARIABLE condition) { ::pthread_cond_init(&condition->condition, nullptr); }

BOOL SleepConditionVariableCS(PCONDITION_VARIABLE condition, LPCRITICAL_SECTION section, DWORD milliseconds) {
  if (milliseconds != INFINITE) {
    lastError = ERROR_INVALID_PARAMETER;
    return FALSE;
  }
  ::pthread_cond_wait(&condition->condition, &section->mutex);
  return TRUE;
}

void WakeAllConditionVariable(PCONDITION_VARIABLE condition) { ::pthread_cond_broadcast(&condition->condition); }

namespace tessel::platform {
uint32_t LiveLocalHandles() { return liveLocalHandles.load(std::memory_order_relaxed); }
}  // namespace tessel::platform
