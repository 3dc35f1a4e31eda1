// The five functions a host image viewer calls, and the records they share
// with it. On Windows they use the stdcall convention and are exported from
// tessel.spi under these undecorated names.
#pragma once

#include <cstdint>

#include "platform/kernel32.h"

#ifdef _WIN32
#define TESSEL_CALL __stdcall
#else
#define TESSEL_CALL
#endif

// Laid out by the host: byte-packed, little-endian, 26 bytes.
#pragma pack(push, 1)
struct PictureInfo {
  int32_t left;
  int32_t top;
  uint32_t width;
  uint32_t height;
  uint16_t xDensity;
  uint16_t yDensity;
  int16_t colorDepth;
  uint32_t textInfo;  // a local-memory handle on Windows; tessel writes none
};
#pragma pack(pop)
static_assert(sizeof(PictureInfo) == 26, "PictureInfo is the host's 26-byte record");

// The host's progress callback: (current, total, user data); nonzero stops.
typedef int(TESSEL_CALL* ProgressCallback)(int32_t current, int32_t total, intptr_t userData);

extern "C" {

// Information string index 0 to 3 into buffer; returns the characters written.
int TESSEL_CALL GetPluginInfo(int32_t index, char* buffer, int32_t length);

// data below 0x10000 is an open file handle; otherwise the address of the
// file's first 2048 bytes, with fileName deciding for compressed data.
int TESSEL_CALL IsSupported(const char* fileName, uintptr_t data);

// flag & 7: 0 buffer is a file name and offsetOrSize a start offset,
// 1 buffer is the whole file in memory and offsetOrSize its size.
int TESSEL_CALL GetPictureInfo(const char* buffer, int32_t offsetOrSize, uint32_t flag, PictureInfo* info);

// On success *info and *bits are movable local-memory handles the host owns:
// a BITMAPINFO and the bottom-up pixel rows.
int TESSEL_CALL GetPicture(const char* buffer, int32_t offsetOrSize, uint32_t flag, HLOCAL* info, HLOCAL* bits,
                           ProgressCallback progress, intptr_t userData);

// Not provided: always -1.
int TESSEL_CALL GetPreview(const char* buffer, int32_t offsetOrSize, uint32_t flag, HLOCAL* info, HLOCAL* bits,
                           ProgressCallback progress, intptr_t userData);

}  // extern "C"
