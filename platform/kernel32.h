// The few KERNEL32 calls tessel makes. On Windows they are the real ones;
// elsewhere a small stand-in (kernel32_posix.cpp) behaves as the plug-in
// expects them to, so the same core builds and is tested natively.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

#include <pthread.h>

#include <cstddef>
#include <cstdint>

typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* HMODULE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef uint8_t BYTE;
typedef size_t SIZE_T;
typedef uintptr_t UINT_PTR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
struct SECURITY_ATTRIBUTES;
// Only the position of a positional read is honoured.
struct OVERLAPPED {
  uintptr_t Internal;
  uintptr_t InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
union LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  int64_t QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef uintptr_t DWORD_PTR;
typedef DWORD_PTR* PDWORD_PTR;
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);
// The synchronisation objects, as records of their POSIX counterparts.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
struct CONDITION_VARIABLE {
  pthread_cond_t condition;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;
typedef CONDITION_VARIABLE* PCONDITION_VARIABLE;
typedef OVERLAPPED* LPOVERLAPPED;

#define WINAPI
// As glib defines them too, where both are included.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(0xFFFFFFFFu))
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u
#define MAX_PATH 260
#define FILE_BEGIN 0u
#define LMEM_MOVEABLE 0x0002u
#define CP_ACP 0u

#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_NOT_LOCKED 158u
#define ERROR_NEGATIVE_SEEK 131u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_HANDLE_EOF 38u

#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0u
#define WAIT_FAILED 0xFFFFFFFFu

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
// The temporary folder ($TMPDIR, else /tmp) with a closing slash; its length.
DWORD GetTempPathA(DWORD length, LPSTR buffer);
// Makes an empty file of a new name in the folder and writes its path.
UINT GetTempFileNameA(LPCSTR folder, LPCSTR prefix, UINT unique, LPSTR name);
BOOL DeleteFileA(LPCSTR name);
DWORD SetFilePointer(HANDLE file, LONG distanceLow, PLONG distanceHigh, DWORD method);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
DWORD GetLastError();
BOOL CloseHandle(HANDLE object);

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
LPVOID LocalLock(HLOCAL mem);
BOOL LocalUnlock(HLOCAL mem);
HLOCAL LocalFree(HLOCAL mem);
SIZE_T LocalSize(HLOCAL mem);

LPSTR lstrcpynA(LPSTR dest, LPCSTR src, int maxLength);
int lstrlenA(LPCSTR text);
int lstrcmpiA(LPCSTR a, LPCSTR b);
BOOL IsDBCSLeadByteEx(UINT codePage, BYTE testChar);
BOOL IsBadReadPtr(const void* pointer, UINT_PTR bytes);
// Natively no debugger listens: the text goes nowhere.
void OutputDebugStringA(LPCSTR text);

// The module that holds the address `name` (FROM_ADDRESS, which the
// stand-in requires), and its file: natively the executable or shared
// object that dladdr finds (profile_posix.cpp).
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u
BOOL GetModuleHandleExA(DWORD flags, LPCSTR name, HMODULE* module);
DWORD GetModuleFileNameA(HMODULE module, LPSTR name, DWORD size);
// A value of an INI file as Windows reads it: section and key without
// regard to case, the value without the blanks around it or the quotes
// around the whole; `fallback` where the file, section or key is missing.
// Returns the characters written, cut to size - 1.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR fallback, LPSTR value, DWORD size, LPCSTR file);

// Threads: the stand-in waits for a thread with INFINITE only.
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
HANDLE GetCurrentProcess();
BOOL GetProcessAffinityMask(HANDLE process, PDWORD_PTR processMask, PDWORD_PTR systemMask);
BOOL SetProcessAffinityMask(HANDLE process, DWORD_PTR processMask);
void InitializeCriticalSection(LPCRITICAL_SECTION section);
void EnterCriticalSection(LPCRITICAL_SECTION section);
void LeaveCriticalSection(LPCRITICAL_SECTION section);
void DeleteCriticalSection(LPCRITICAL_SECTION section);
void InitializeConditionVariable(PCONDITION_VARIABLE condition);
BOOL SleepConditionVariableCS(PCONDITION_VARIABLE condition, LPCRITICAL_SECTION section, DWORD milliseconds);
void WakeAllConditionVariable(PCONDITION_VARIABLE condition);

#endif
