#include "stream/container_reader.h"

#include <bzlib.h>
#include <zlib.h>

#include <cstdlib>
#include <new>

#ifdef TESSEL_HAVE_LZMA
#include <lzma.h>
#endif

namespace tessel {

namespace {

// zlib and libbzip2 status codes as result codes.
ResultCode MapZlibError(int status) {
  switch (status) {
    case Z_OK: return ResultCode::Ok;
    case Z_DATA_ERROR: return ResultCode::CorruptData;
    case Z_MEM_ERROR: return ResultCode::OutOfMemory;
    default: return ResultCode::Unsupported;
  }
}

ResultCode MapBzip2Error(int status) {
  switch (status) {
    case BZ_OK: return ResultCode::Ok;
    case BZ_DATA_ERROR:
    case BZ_UNEXPECTED_EOF: return ResultCode::CorruptData;
    case BZ_DATA_ERROR_MAGIC: return ResultCode::NotRecognised;
    case BZ_MEM_ERROR: return ResultCode::OutOfMemory;
    default: return ResultCode::Unsupported;
  }
}

constexpr uint32_t kDecoderHeaderChecked = 0x1;
constexpr uint32_t kDecoderInitialised = 0x2;
constexpr uint32_t kDecoderStreamEnded = 0x4;

constexpr uint32_t kDecoderInputSize = 65536;

struct GzipDecoder {
  ByteStream* source;  // not owned
  z_stream z;
  uint8_t* input;      // owned; null until the first read
  uint32_t inputSize;
  uint32_t flags;
};

struct Bzip2Decoder {
  ByteStream* source;  // not owned
  bz_stream bz;
  uint8_t* input;
  uint32_t inputSize;
  uint32_t flags;
};

// What differs between the two decoders: the library calls and the header.
struct GzipTraits {
  using Decoder = GzipDecoder;
  static constexpr uint32_t kHeaderSize = 10;

  static constexpr const char* kName = "gzip";
  static ResultCode CheckHeader(const ByteStream* source, const uint8_t* h) {
    if (h[0] != 0x1F || h[1] != 0x8B) return StreamRefuse(source, ResultCode::NotRecognised, "gzip: no gzip signature");
    // Method must be deflate; a header checksum (0x02) or the reserved 0x20 is refused.
    if (h[2] != 8)
      return StreamRefuse(source, ResultCode::UnsupportedVersion, "gzip: compression method %u is not deflate (8)", h[2]);
    if ((h[3] & 0x22) != 0)
      return StreamRefuse(source, ResultCode::UnsupportedVersion,
                          "gzip: header flags 0x%02X ask for a header checksum (0x02) or set the reserved 0x20", h[3]);
    return ResultCode::Ok;
  }
  // zlib's own words for what went wrong.
  static ResultCode Refuse(const Decoder* d, int status) {
    const char* why = d->z.msg != nullptr           ? d->z.msg
                      : status == Z_MEM_ERROR       ? "no memory for the decompressor"
                      : status == Z_NEED_DICT       ? "the data needs a preset dictionary"
                      : status == Z_BUF_ERROR       ? "no progress possible"
                      : status == Z_VERSION_ERROR   ? "zlib of another version"
                                                    : "unknown zlib status";
    return StreamRefuse(d->source, MapZlibError(status), "gzip: %s", why);
  }
  static int Init(Decoder* d) {
    d->z.zalloc = nullptr;
    d->z.zfree = nullptr;
    d->z.opaque = nullptr;
    d->z.next_in = nullptr;
    d->z.avail_in = 0;
    return inflateInit2(&d->z, 15 + 16);  // 15-bit window, gzip framing only
  }
  static int Step(Decoder* d) { return inflate(&d->z, Z_NO_FLUSH); }
  static void End(Decoder* d) { inflateEnd(&d->z); }
  static bool IsStreamEnd(int status) { return status == Z_STREAM_END; }
  static uint32_t AvailIn(const Decoder* d) { return d->z.avail_in; }
  static void SetInput(Decoder* d, uint8_t* data, uint32_t n) {
    d->z.next_in = data;
    d->z.avail_in = n;
  }
  static void SetOutput(Decoder* d, void* data, uint32_t n) {
    d->z.next_out = static_cast<Bytef*>(data);
    d->z.avail_out = n;
  }
  static uint32_t AvailOut(const Decoder* d) { return d->z.avail_out; }
};

struct Bzip2Traits {
  using Decoder = Bzip2Decoder;
  static constexpr uint32_t kHeaderSize = 3;

  static constexpr const char* kName = "bzip2";
  static ResultCode CheckHeader(const ByteStream* source, const uint8_t* h) {
    return (h[0] == 'B' && h[1] == 'Z' && h[2] == 'h')
               ? ResultCode::Ok
               : StreamRefuse(source, ResultCode::NotRecognised, "bzip2: no bzip2 signature");
  }
  static ResultCode Refuse(const Decoder* d, int status) {
    const char* why = status == BZ_DATA_ERROR         ? "the compressed data is damaged"
                      : status == BZ_DATA_ERROR_MAGIC ? "no valid bzip2 stream header"
                      : status == BZ_UNEXPECTED_EOF   ? "the compressed data ends early"
                      : status == BZ_MEM_ERROR        ? "no memory for the decompressor"
                      : status == BZ_CONFIG_ERROR     ? "libbzip2 is built wrongly for this machine"
                                                      : "unknown libbzip2 status";
    return StreamRefuse(d->source, MapBzip2Error(status), "bzip2: %s (status %d)", why, status);
  }
  static int Init(Decoder* d) {
    d->bz.bzalloc = nullptr;
    d->bz.bzfree = nullptr;
    d->bz.opaque = nullptr;
    d->bz.next_in = nullptr;
    d->bz.avail_in = 0;
    return BZ2_bzDecompressInit(&d->bz, 0, 0);  // quiet, fast (not small)
  }
  static int Step(Decoder* d) { return BZ2_bzDecompress(&d->bz); }
  static void End(Decoder* d) { BZ2_bzDecompressEnd(&d->bz); }
  static bool IsStreamEnd(int status) { return status == BZ_STREAM_END; }
  static uint32_t AvailIn(const Decoder* d) { return d->bz.avail_in; }
  static void SetInput(Decoder* d, uint8_t* data, uint32_t n) {
    d->bz.next_in = reinterpret_cast<char*>(data);
    d->bz.avail_in = n;
  }
  static void SetOutput(Decoder* d, void* data, uint32_t n) {
    d->bz.next_out = static_cast<char*>(data);
    d->bz.avail_out = n;
  }
  static uint32_t AvailOut(const Decoder* d) { return d->bz.avail_out; }
};

#ifdef TESSEL_HAVE_LZMA
struct XzDecoder {
  ByteStream* source;  // not owned
  lzma_stream xz;
  uint8_t* input;
  uint32_t inputSize;
  uint32_t flags;
};

// The memory liblzma may take for one stream's dictionary: GIMP's and xz's
// presets need at most 64 MiB; more is refused rather than tried.
constexpr uint64_t kXzMemoryLimit = 256u << 20;

struct XzTraits {
  using Decoder = XzDecoder;
  static constexpr uint32_t kHeaderSize = 6;

  static constexpr const char* kName = "xz";
  static ResultCode CheckHeader(const ByteStream* source, const uint8_t* h) {
    static constexpr uint8_t kMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0};
    for (uint32_t i = 0; i < kHeaderSize; ++i)
      if (h[i] != kMagic[i]) return StreamRefuse(source, ResultCode::NotRecognised, "xz: no xz signature");
    return ResultCode::Ok;
  }
  static ResultCode Refuse(const Decoder* d, int status) {
    ResultCode code = ResultCode::Unsupported;
    const char* why = "unknown liblzma status";
    switch (status) {
      case LZMA_MEM_ERROR: code = ResultCode::OutOfMemory; why = "no memory for the decompressor"; break;
      case LZMA_MEMLIMIT_ERROR: code = ResultCode::TooLarge; why = "the stream needs more than 256 MiB to decompress"; break;
      case LZMA_FORMAT_ERROR: code = ResultCode::NotRecognised; why = "no valid xz stream header"; break;
      case LZMA_OPTIONS_ERROR: code = ResultCode::UnsupportedVersion; why = "the stream asks for options liblzma does not know"; break;
      case LZMA_DATA_ERROR: code = ResultCode::CorruptData; why = "the compressed data is damaged"; break;
      case LZMA_BUF_ERROR: code = ResultCode::CorruptData; why = "the compressed data ends early"; break;
      default: break;
    }
    return StreamRefuse(d->source, code, "xz: %s (status %d)", why, status);
  }
  static int Init(Decoder* d) {
    d->xz = LZMA_STREAM_INIT;
    return lzma_stream_decoder(&d->xz, kXzMemoryLimit, 0);
  }
  static int Step(Decoder* d) { return lzma_code(&d->xz, LZMA_RUN); }
  static void End(Decoder* d) { lzma_end(&d->xz); }
  static bool IsStreamEnd(int status) { return status == LZMA_STREAM_END; }
  static uint32_t AvailIn(const Decoder* d) { return static_cast<uint32_t>(d->xz.avail_in); }
  static void SetInput(Decoder* d, uint8_t* data, uint32_t n) {
    d->xz.next_in = data;
    d->xz.avail_in = n;
  }
  static void SetOutput(Decoder* d, void* data, uint32_t n) {
    d->xz.next_out = static_cast<uint8_t*>(data);
    d->xz.avail_out = n;
  }
  static uint32_t AvailOut(const Decoder* d) { return static_cast<uint32_t>(d->xz.avail_out); }
};
#endif

template <typename Traits>
ResultCode DecoderCheckHeader(typename Traits::Decoder* d) {
  if (d == nullptr) return ResultCode::InvalidArgument;
  if ((d->flags & kDecoderHeaderChecked) != 0) return ResultCode::NotReady;
  if (d->source == nullptr || d->source->read == nullptr) return ResultCode::ReadError;
  uint8_t header[Traits::kHeaderSize];
  if (StreamRead(d->source, Traits::kHeaderSize, header) < Traits::kHeaderSize)
    return StreamRefuse(d->source, ResultCode::ReadError, "%s: the container's header is cut short", Traits::kName);
  ResultCode result = Traits::CheckHeader(d->source, header);
  if (result != ResultCode::Ok) return result;
  // The library reads the container again from its first byte.
  StreamSeek(d->source, 0);
  d->flags |= kDecoderHeaderChecked;
  return ResultCode::Ok;
}

template <typename Traits>
ResultCode DecoderRead(typename Traits::Decoder* d, void* buffer, uint32_t* count) {
  if (d == nullptr || buffer == nullptr || count == nullptr || *count == 0) return ResultCode::InvalidArgument;
  if ((d->flags & kDecoderHeaderChecked) == 0) return ResultCode::NotReady;
  if (d->input == nullptr) {
    d->input = static_cast<uint8_t*>(std::malloc(kDecoderInputSize));
    if (d->input == nullptr)
      return StreamRefuse(d->source, ResultCode::OutOfMemory, "%s: no memory for the input buffer", Traits::kName);
    d->inputSize = kDecoderInputSize;
  }
  if ((d->flags & kDecoderInitialised) == 0) {
    int status = Traits::Init(d);
    if (status != 0) return Traits::Refuse(d, status);
    d->flags |= kDecoderInitialised;
  }
  if ((d->flags & kDecoderStreamEnded) != 0) {
    *count = 0;
    return ResultCode::Ok;
  }
  Traits::SetOutput(d, buffer, *count);
  while (Traits::AvailOut(d) > 0) {
    if (Traits::AvailIn(d) == 0) {
      uint32_t got = StreamRead(d->source, d->inputSize, d->input);
      if (got == 0) break;  // input exhausted: deliver what there is
      Traits::SetInput(d, d->input, got);
    }
    int status = Traits::Step(d);
    if (Traits::IsStreamEnd(status)) {
      d->flags |= kDecoderStreamEnded;
      break;
    }
    if (status != 0) return Traits::Refuse(d, status);
  }
  *count -= Traits::AvailOut(d);
  return ResultCode::Ok;
}

template <typename Traits>
void DecoderFree(typename Traits::Decoder* d) {
  if (d == nullptr) return;
  if ((d->flags & kDecoderInitialised) != 0) Traits::End(d);
  std::free(d->input);
  delete d;
}

}  // namespace

bool ContainerReadsXz() {
#ifdef TESSEL_HAVE_LZMA
  return true;
#else
  return false;
#endif
}

ResultCode ContainerReaderOpen(ContainerKind kind, ByteStream* source, ContainerReader** out) {
  if (out == nullptr || source == nullptr) return ResultCode::InvalidArgument;
  if (kind != ContainerKind::Plain && kind != ContainerKind::Gzip && kind != ContainerKind::Bzip2 &&
      !(kind == ContainerKind::Xz && ContainerReadsXz()))
    return ResultCode::InvalidArgument;
  auto* reader = new (std::nothrow) ContainerReader{source, kind, nullptr};
  if (reader == nullptr) return StreamRefuse(source, ResultCode::OutOfMemory, "no memory for a container reader");
  if (kind == ContainerKind::Gzip) {
    auto* d = new (std::nothrow) GzipDecoder{};
    if (d != nullptr) d->source = source;
    reader->decoder = d;
  } else if (kind == ContainerKind::Bzip2) {
    auto* d = new (std::nothrow) Bzip2Decoder{};
    if (d != nullptr) d->source = source;
    reader->decoder = d;
  }
#ifdef TESSEL_HAVE_LZMA
  if (kind == ContainerKind::Xz) {
    auto* d = new (std::nothrow) XzDecoder{};
    if (d != nullptr) d->source = source;
    reader->decoder = d;
  }
#endif
  if (kind != ContainerKind::Plain && reader->decoder == nullptr) {
    delete reader;
    return StreamRefuse(source, ResultCode::OutOfMemory, "no memory for a decompressor");
  }
  *out = reader;
  return ResultCode::Ok;
}

ResultCode ContainerReaderClose(ContainerReader** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  ContainerReader* reader = *holder;
  if (reader == nullptr) return ResultCode::Ok;
  if (reader->kind == ContainerKind::Gzip) DecoderFree<GzipTraits>(static_cast<GzipDecoder*>(reader->decoder));
  if (reader->kind == ContainerKind::Bzip2) DecoderFree<Bzip2Traits>(static_cast<Bzip2Decoder*>(reader->decoder));
#ifdef TESSEL_HAVE_LZMA
  if (reader->kind == ContainerKind::Xz) DecoderFree<XzTraits>(static_cast<XzDecoder*>(reader->decoder));
#endif
  delete reader;
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode ContainerReaderCheckHeader(ContainerReader* reader) {
  if (reader == nullptr) return ResultCode::InvalidArgument;
  switch (reader->kind) {
    case ContainerKind::Plain: return ResultCode::Ok;
    case ContainerKind::Gzip: return DecoderCheckHeader<GzipTraits>(static_cast<GzipDecoder*>(reader->decoder));
    case ContainerKind::Bzip2: return DecoderCheckHeader<Bzip2Traits>(static_cast<Bzip2Decoder*>(reader->decoder));
#ifdef TESSEL_HAVE_LZMA
    case ContainerKind::Xz: return DecoderCheckHeader<XzTraits>(static_cast<XzDecoder*>(reader->decoder));
#endif
    default: return ResultCode::Unsupported;
  }
}

ResultCode ContainerReaderRead(ContainerReader* reader, void* buffer, uint32_t* count) {
  if (reader == nullptr || buffer == nullptr || count == nullptr || *count == 0) return ResultCode::InvalidArgument;
  switch (reader->kind) {
    case ContainerKind::Plain: {
      uint32_t got = StreamRead(reader->source, *count, buffer);
      if (got == 0) return StreamRefuse(reader->source, ResultCode::ReadError, "the data ends early");
      *count = got;
      return ResultCode::Ok;
    }
    case ContainerKind::Gzip:
      return DecoderRead<GzipTraits>(static_cast<GzipDecoder*>(reader->decoder), buffer, count);
    case ContainerKind::Bzip2:
      return DecoderRead<Bzip2Traits>(static_cast<Bzip2Decoder*>(reader->decoder), buffer, count);
#ifdef TESSEL_HAVE_LZMA
    case ContainerKind::Xz: return DecoderRead<XzTraits>(static_cast<XzDecoder*>(reader->decoder), buffer, count);
#endif
    default: return ResultCode::Unsupported;
  }
}

ResultCode ContainerReaderReadExact(ContainerReader* reader, void* buffer, uint32_t n) {
  uint32_t count = n;
  ResultCode result = ContainerReaderRead(reader, buffer, &count);
  if (result != ResultCode::Ok) return result;
  return count < n ? StreamRefuse(reader->source, ResultCode::ReadError, "the XCF data ends early") : ResultCode::Ok;
}

}  // namespace tessel
