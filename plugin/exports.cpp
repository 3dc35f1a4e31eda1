#include "plugin/exports.h"

#include <cstdio>
#include <cstring>

#include "plugin/bitmap.h"
#include "plugin/entry.h"
#include "plugin/result.h"
#include "plugin/settings.h"
#include "stream/detect.h"
#include "stream/file_source.h"
#include "stream/input.h"
#include "stream/memory_source.h"
#include "xcf/image.h"

using namespace tessel;

namespace {

constexpr const char* kInformation[4] = {
    "00IN",
    "tessel 1.0 - GIMP XCF import plug-in. Copyright (c) 2026 the tessel developers.",
    "*.xcf;*.xcf.gz;*.xcfgz;*.xcf.bz2;*.xcfbz2",
    "GIMP XCF",
};

constexpr uint32_t kHeaderBlockSize = 2048;
constexpr uintptr_t kHandleLimit = 0x10000;

// The document and the input, destroyed in that order on every path.
struct Decode {
  ByteStream* stream = nullptr;
  MemorySink* sink = nullptr;
  XcfImage* image = nullptr;
  ~Decode() {
    XcfImageDestroy(&image);
    CloseInput(&stream, &sink);
  }
};

// The input, whole or as far as its header (headerOnly: a compressed file
// decompressed only so far), and a document over it.
ResultCode OpenDocument(const char* buffer, int32_t offsetOrSize, uint32_t flag, const Limits& limits, Reason* reason,
                        Decode* decode, int headerOnly = 1) {
  ResultCode result = OpenInputWith(buffer, offsetOrSize, InputKindOf(flag), &decode->stream, &decode->sink,
                                    headerOnly, limits, reason);
  if (result == ResultCode::Ok) result = XcfImageCreate(decode->stream, &decode->image);
  return result;
}

void TellFound(void* context, const XcfFoundFilters& found) {
  auto* hook = static_cast<FilterHook*>(context);
  hook->tell(hook, NameOf(found.layer).text, found);
}

// The host's arguments, as both picture exports check them first.
bool ArgumentsValid(const char* buffer, int32_t offsetOrSize, uint32_t flag, Reason* reason) {
  if (buffer == nullptr) {
    ReasonNote(reason, "no file name or memory block");
  } else if (offsetOrSize < 0) {
    ReasonNote(reason, "a negative %s, %d", InputKindOf(flag) == 0 ? "start offset" : "size", offsetOrSize);
  } else if (InputKindOf(flag) > static_cast<uint32_t>(InputKind::Memory)) {
    ReasonNote(reason, "input kind %u is neither a file name (0) nor a memory block (1)", InputKindOf(flag));
  } else {
    return true;
  }
  return false;
}

// Tells a debugger watching the viewer why a call failed; the host sees
// nothing of it.
int TellDebugger(int code, const Reason& reason) {
  if (code == host::kOk || !ReasonKept(&reason)) return code;
  char text[sizeof reason.text + 96];
  // A fault of the plug-in's own says so alone, not as the file's.
  if (std::strncmp(reason.text, "internal fault: ", 16) == 0)
    std::snprintf(text, sizeof text, "tessel: %s (code %d)\n", reason.text, code);
  else
    std::snprintf(text, sizeof text, "tessel: %s: %s (code %d)\n", HostCodeText(code), reason.text, code);
  text[sizeof text - 1] = '\0';
  OutputDebugStringA(text);
  return code;
}

// The limits of an export call, from the settings file beside the
// plug-in; a value it cannot take is told to a debugger, and the plug-in's
// own limits apply.
Limits CallLimits() {
  Reason note{};
  const Limits limits = ExportLimits(&note);
  if (ReasonKept(&note)) {
    char text[sizeof note.text + 16];
    std::snprintf(text, sizeof text, "tessel: %s\n", note.text);
    text[sizeof text - 1] = '\0';
    OutputDebugStringA(text);
  }
  return limits;
}

// The name decides when the first 2048 bytes hold no decodable header: a
// compressed XCF's extension, found at any '.', without regard to case. A
// lead byte of a double-byte character takes its trail byte with it.
int NameClaimsCompressedXcf(const char* name) {
  if (name == nullptr || name[0] == '\0') return 0;
  static constexpr const char* kExtensions[] = {".xcf.bz2", ".xcfbz2", ".xcf.gz", ".xcfgz"};
  for (const char* p = name; *p != '\0'; ++p) {
    if (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(*p))) {
      if (p[1] != '\0') ++p;
      continue;
    }
    if (*p != '.') continue;
    for (const char* extension : kExtensions) {
      if (lstrcmpiA(p, extension) == 0) return 1;
    }
  }
  return 0;
}

// What the call draws, from the caller's choice and the document's format:
// the one place a call's record is made.
ResultCode RequestFor(XcfImage* image, const PictureChoice& choice, DrawRequest* request) {
  switch (choice.kind) {
    case PictureKind::OverColour:
      *request = DrawRequest{Arithmetic::Gimp, Backdrop::Colour, {choice.colour[0], choice.colour[1], choice.colour[2]}};
      return ResultCode::Ok;
    case PictureKind::Transparent: {
      // Where no pixel can be transparent, the plug-in's own picture.
      const DrawRequest nothing{Arithmetic::Gimp, Backdrop::Nothing, {0, 0, 0}};
      bool opaque = false;
      ResultCode result = CompositeIsOpaque(image, nothing, &opaque);
      if (result == ResultCode::Ok) *request = opaque ? ViewerRequest(image->format) : nothing;
      return result;
    }
    case PictureKind::Viewer: break;
  }
  *request = ViewerRequest(image->format);
  return ResultCode::Ok;
}

// x + 0.5 truncated, as a 16-bit density. A resolution that is not a number,
// negative or beyond 65535 cannot be converted as it is: it becomes 0 or 65535.
uint16_t DensityOf(float resolution) {
  double value = static_cast<double>(resolution) + 0.5;
  if (!(value >= 0.0)) return 0;
  if (value >= 65535.0) return 65535;
  return static_cast<uint16_t>(static_cast<int32_t>(value));
}

}  // namespace

extern "C" {

int TESSEL_CALL GetPluginInfo(int32_t index, char* buffer, int32_t length) {
  if (index < 0 || index > 3 || buffer == nullptr || length <= 0) return 0;
  lstrcpynA(buffer, kInformation[index], length);
  return lstrlenA(buffer);
}

int TESSEL_CALL IsSupported(const char* fileName, uintptr_t data) {
  const Limits limits = CallLimits();
  const bool handleForm = data < kHandleLimit;
  FileSource file{};
  file.file = reinterpret_cast<HANDLE>(data);  // the host's: read as it stands, never closed
  ByteStream* stream = nullptr;
  ResultCode result;
  if (handleForm) {
    // The host keeps its handle: the stream gets no close operation.
    result = FileStreamWrap(&file, &stream);
  } else {
    const void* block = reinterpret_cast<const void*>(data);
    if (IsBadReadPtr(block, kHeaderBlockSize)) return 0;
    result = MemoryStreamOpen(kHeaderBlockSize, &stream, block);
  }
  if (result == ResultCode::OutOfMemory) return static_cast<int>(ResultCode::OutOfMemory);
  if (result != ResultCode::Ok) return 0;
  stream->limits = &limits;

  int32_t version = -1;
  result = ProbeXcf(stream, &version);
  StreamDestroy(&stream);
  if (result == ResultCode::Ok) return version >= 0 ? 1 : 0;
  if (result == ResultCode::NotRecognised && !handleForm) return NameClaimsCompressedXcf(fileName);
  return 0;
}

int TESSEL_CALL GetPictureInfo(const char* buffer, int32_t offsetOrSize, uint32_t flag, PictureInfo* info) {
  Reason reason{};
  return TellDebugger(GetPictureInfoWith(buffer, offsetOrSize, flag, info, CallLimits(), &reason), reason);
}

int TESSEL_CALL GetPicture(const char* buffer, int32_t offsetOrSize, uint32_t flag, HLOCAL* info, HLOCAL* bits,
                           ProgressCallback progress, intptr_t userData) {
  Reason reason{};
  return TellDebugger(
      GetPictureWith(buffer, offsetOrSize, flag, info, bits, progress, userData, CallLimits(), &reason), reason);
}

int TESSEL_CALL GetPreview(const char*, int32_t, uint32_t, HLOCAL*, HLOCAL*, ProgressCallback, intptr_t) {
  return -1;
}

#ifdef _WIN32
// Loading and unloading need nothing: the plug-in keeps no state.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

}  // extern "C"

namespace tessel {

int GetPictureInfoWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, PictureInfo* info,
                       const Limits& limits, Reason* reason) {
  if (info == nullptr) {
    ReasonNote(reason, "no record for the picture's information");
    return host::kOtherError;
  }
  if (!ArgumentsValid(buffer, offsetOrSize, flag, reason)) return host::kOtherError;
  Decode decode;
  ResultCode result = OpenDocument(buffer, offsetOrSize, flag, limits, reason, &decode);
  if (result == ResultCode::Ok) result = XcfLoad(decode.image);
  XcfHeaderInfo header{};
  if (result == ResultCode::Ok) result = XcfGetHeaderInfo(decode.image, &header);
  if (result != ResultCode::Ok) return MapResultToHost(result);

  PictureInfo picture{};
  picture.width = header.width;
  picture.height = header.height;
  picture.colorDepth = header.baseType == kBaseRgb ? 24 : 8;
  float x;
  float y;
  if (XcfGetResolution(decode.image, &x, &y) == ResultCode::Ok) {
    picture.xDensity = DensityOf(x);
    picture.yDensity = DensityOf(y);
  }
  *info = picture;
  return host::kOk;
}

int GetPictureFormatWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, XcfFormat* format,
                         const Limits& limits, Reason* reason) {
  if (format == nullptr) {
    ReasonNote(reason, "no record for the picture's format");
    return host::kOtherError;
  }
  if (!ArgumentsValid(buffer, offsetOrSize, flag, reason)) return host::kOtherError;
  Decode decode;
  ResultCode result = OpenDocument(buffer, offsetOrSize, flag, limits, reason, &decode);
  if (result == ResultCode::Ok) result = XcfReadHeader(decode.image);
  if (result != ResultCode::Ok) return MapResultToHost(result);
  *format = decode.image->format;
  return host::kOk;
}

int GetPictureFiltersWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, FilterHook* hook,
                          const Limits& limits, Reason* reason) {
  if (hook == nullptr || hook->tell == nullptr) {
    ReasonNote(reason, "nowhere to tell the filters");
    return host::kOtherError;
  }
  if (!ArgumentsValid(buffer, offsetOrSize, flag, reason)) return host::kOtherError;
  Decode decode;
  ResultCode result = OpenDocument(buffer, offsetOrSize, flag, limits, reason, &decode, 0);
  if (result == ResultCode::Ok) result = XcfVisitFilters(decode.image, TellFound, hook);
  return MapResultToHost(result);
}

int GetPictureWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, HLOCAL* info, HLOCAL* bits,
                   ProgressCallback progress, intptr_t userData, const Limits& limits, Reason* reason,
                   PictureSink* sink, FilterHook* filters, PictureChoice choice) {
  if (info == nullptr || bits == nullptr) {
    ReasonNote(reason, "nowhere to put the bitmap's handles");
    return host::kOtherError;
  }
  if (!ArgumentsValid(buffer, offsetOrSize, flag, reason)) return host::kOtherError;
  Decode decode;
  ResultCode result = OpenDocument(buffer, offsetOrSize, flag, limits, reason, &decode, 0);
  // The document is read once for the whole call: the header, the image's
  // properties and its lists.
  if (result == ResultCode::Ok) result = XcfLoad(decode.image);
  // Said before drawing, so that a note comes ahead of the picture's end.
  if (result == ResultCode::Ok && filters != nullptr && filters->tell != nullptr)
    result = XcfVisitFilters(decode.image, TellFound, filters);
  DrawRequest request{};
  if (result == ResultCode::Ok) result = RequestFor(decode.image, choice, &request);
  if (result == ResultCode::Ok)
    result = BuildBitmapWith(decode.image, info, bits, progress, userData, CompositeOptions{request, 0, true, nullptr},
                             sink);
  return MapResultToHost(result);
}

}  // namespace tessel
