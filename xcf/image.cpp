#include "xcf/image.h"

#include <cstring>
#include <new>

#include "stream/detect.h"
#include "xcf/layer.h"

namespace tessel {

namespace {

bool BodyValid(const XcfImage* image) { return (image->flags & kImageBodyValid) != 0; }

}  // namespace

ResultCode XcfImageCreate(ByteStream* stream, XcfImage** out) {
  if (stream == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  auto* image = new (std::nothrow) XcfImage{};
  if (image == nullptr) return ResultCode::OutOfMemory;
  image->stream = stream;
  image->baseType = -1;
  *out = image;
  return ResultCode::Ok;
}

ResultCode XcfImageDestroy(XcfImage** holder) {
  if (holder == nullptr) return ResultCode::InvalidArgument;
  XcfImage* image = *holder;
  if (image == nullptr) return ResultCode::Ok;
  if (image->stream != nullptr && image->stream->format == &image->format) image->stream->format = nullptr;
  XcfPropertyListDestroy(&image->properties);
  XcfOffsetListFree(&image->layerOffsets);
  XcfOffsetListFree(&image->channelOffsets);
  XcfOffsetListFree(&image->pathOffsets);
  XcfLayerListDestroy(&image->layers);
  delete image;
  *holder = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfReadHeader(XcfImage* image) {
  if (image == nullptr) return ResultCode::InvalidArgument;
  if ((image->flags & kImageHeaderAttempted) != 0)
    return (image->flags & kImageHeaderValid) != 0 ? ResultCode::Ok : ResultCode::NotReady;
  image->flags |= kImageHeaderAttempted;

  ByteStream* stream = image->stream;
  if (stream == nullptr || stream->read == nullptr) return ResultCode::ReadError;
  uint8_t signature[kXcfSignatureSize];
  if (StreamRead(stream, sizeof signature, signature) < sizeof signature)
    return StreamRefuse(stream, ResultCode::ReadError, "fewer than the 14 bytes of an XCF signature");
  image->version = XcfParseSignature(signature, StreamLimits(stream).newestVersion);
  ResultCode result = XcfCheckSignature(stream, signature, image->version);
  if (result != ResultCode::Ok) return result;

  uint32_t width;
  uint32_t height;
  uint32_t baseType;
  if (!StreamReadU32(stream, &width) || !StreamReadU32(stream, &height) || !StreamReadU32(stream, &baseType))
    return StreamRefuse(stream, ResultCode::ReadError, "the header ends before the canvas size and base type");
  result = XcfCheckCanvas(stream, width, height, baseType);
  if (result != ResultCode::Ok) return result;
  XcfFormat format{image->version, XcfPointerBytes(image->version), kGamma8};
  if (XcfHasPrecision(image->version)) {
    uint32_t word;
    if (!StreamReadU32(stream, &word))
      return StreamRefuse(stream, ResultCode::ReadError, "the header ends before its precision");
    result = XcfDecodePrecision(stream, image->version, word, &format.precision);
    if (result != ResultCode::Ok) return result;
    // GIMP keeps indexed pictures in 8-bit gamma alone.
    if (baseType == kBaseIndexed && (format.precision.component != XcfComponent::U8 || format.precision.linear))
      return StreamRefuse(stream, ResultCode::CorruptData, "an indexed picture of precision %u", word);
  }
  image->format = format;
  // Every reader of the data after the header reads it by its format.
  stream->format = &image->format;
  image->width = width;
  image->height = height;
  image->baseType = static_cast<int32_t>(baseType);
  image->flags |= kImageHeaderValid;
  return ResultCode::Ok;
}

ResultCode XcfLoad(XcfImage* image) {
  if (image == nullptr) return ResultCode::InvalidArgument;
  if ((image->flags & kImageBodyAttempted) != 0) return BodyValid(image) ? ResultCode::Ok : ResultCode::NotReady;
  if ((image->flags & kImageHeaderAttempted) == 0) {
    ResultCode result = XcfReadHeader(image);
    if (result != ResultCode::Ok) return result;
  }
  // A header that failed earlier leaves the body unreadable.
  if ((image->flags & kImageHeaderValid) == 0) return ResultCode::NotReady;
  if (image->properties == nullptr) {
    ResultCode result = XcfPropertyListCreate(&image->properties);
    if (result != ResultCode::Ok) return StreamRefuse(image->stream, result, "no memory for a property list");
  }
  image->flags |= kImageBodyAttempted;
  Reason* reason = image->stream != nullptr ? image->stream->reason : nullptr;
  const bool told = ReasonKept(reason);
  ResultCode result = XcfReadPropertyList(image->properties, image->stream);
  if (result != ResultCode::Ok && !told) ReasonPrefix(reason, "image properties: ");
  if (result == ResultCode::Ok) {
    result = XcfReadOffsetList(&image->layerOffsets, image->stream);
    if (result != ResultCode::Ok && !told) ReasonPrefix(reason, "layer offsets: ");
  }
  if (result == ResultCode::Ok) {
    result = XcfReadOffsetList(&image->channelOffsets, image->stream);
    if (result != ResultCode::Ok && !told) ReasonPrefix(reason, "channel offsets: ");
  }
  if (result == ResultCode::Ok && XcfHasPathList(image->version)) {
    result = XcfReadOffsetList(&image->pathOffsets, image->stream);
    if (result != ResultCode::Ok && !told) ReasonPrefix(reason, "path offsets: ");
  }
  if (result != ResultCode::Ok) return result;
  image->flags |= kImageBodyValid;
  return ResultCode::Ok;
}

ResultCode XcfGetHeaderInfo(XcfImage* image, XcfHeaderInfo* out) {
  if (image == nullptr || out == nullptr) return ResultCode::InvalidArgument;
  if ((image->flags & kImageHeaderAttempted) == 0) {
    ResultCode result = XcfReadHeader(image);
    if (result != ResultCode::Ok) return result;
  }
  if ((image->flags & kImageHeaderValid) == 0) return ResultCode::NotReady;
  *out = XcfHeaderInfo{static_cast<uint32_t>(image->version), image->width, image->height,
                       static_cast<uint32_t>(image->baseType)};
  return ResultCode::Ok;
}

ResultCode XcfGetResolution(const XcfImage* image, float* x, float* y) {
  if (image == nullptr || x == nullptr || y == nullptr) return ResultCode::InvalidArgument;
  if (!BodyValid(image)) return ResultCode::NotReady;
  XcfProperty property;
  if (XcfFindProperty(image->properties, kPropResolution, &property) && property.length == 8) {
    *x = XcfPropertyFloat(&property, 0);
    *y = XcfPropertyFloat(&property, 1);
  } else {
    *x = 0.0f;
    *y = 0.0f;
  }
  return ResultCode::Ok;
}

ResultCode XcfGetCompression(const XcfImage* image, uint32_t* value) {
  if (image == nullptr || value == nullptr) return ResultCode::InvalidArgument;
  if (!BodyValid(image)) return ResultCode::NotReady;
  XcfProperty property;
  bool present = XcfFindProperty(image->properties, kPropCompression, &property) && property.length == 1;
  *value = present ? property.data[0] : 0;
  return ResultCode::Ok;
}

ResultCode XcfGetColormap(const XcfImage* image, uint32_t* count, uint8_t* triples) {
  if (image == nullptr || count == nullptr || triples == nullptr) return ResultCode::InvalidArgument;
  if (!BodyValid(image)) return ResultCode::NotReady;
  XcfProperty property;
  if (!XcfFindProperty(image->properties, kPropColormap, &property) || property.length <= 4)
    return ResultCode::CorruptData;
  uint32_t n = XcfPropertyU32(&property, 0);
  if (n == 0 || (property.length - 4) / 3 < n) return ResultCode::CorruptData;
  uint32_t k = n < *count ? n : *count;
  std::memcpy(triples, property.data + 4, static_cast<size_t>(k) * 3);
  if (n <= *count) *count = n;
  return ResultCode::Ok;
}

}  // namespace tessel
