// The host's device-independent bitmap: a BITMAPINFO handle and a pixel
// handle into which the layers are flattened directly.
#pragma once

#include "composite/composite.h"
#include "composite/pixel_buffer.h"
#include "plugin/dib.h"
#include "platform/kernel32.h"
#include "plugin/exports.h"
#include "xcf/image.h"

namespace tessel {

struct PictureSink;

// Reads the document if it has not been, and draws the plug-in's picture
// of it. Writes both handles only on success; they are unlocked and the
// host's.
ResultCode BuildBitmap(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                       intptr_t userData);
// The same for a document read (XcfLoad), with the composition's options
// (what the call asks for, the tests' thread counts) and a sink told of
// the bitmap as it is made (plugin/entry.h), or null.
ResultCode BuildBitmapWith(XcfImage* image, HLOCAL* infoHandle, HLOCAL* bitsHandle, ProgressCallback callback,
                           intptr_t userData, CompositeOptions options, PictureSink* sink);

// Exchanges the first and third byte of every pixel of 3 or more bytes.
ResultCode SwapRedBlue(PixelBuffer* buffer);

}  // namespace tessel
