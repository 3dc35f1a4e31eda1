// The picture exports as the plug-in runs them, with records of the
// caller's: the limits to apply, and where the first failure's reason goes
// (null: nowhere). The exports are these with the default limits; they
// send the reason to a debugger watching the viewer (OutputDebugStringA),
// since they cannot widen what they return. The native tool, the tests and
// the fuzz targets call these to hear the reason or to pass tighter limits.
#pragma once

#include "composite/composite.h"
#include "plugin/exports.h"
#include "plugin/limits.h"
#include "plugin/reason.h"
#include "stream/xcf_rules.h"
#include "xcf/layer_tree.h"

namespace tessel {

// The bitmap as it is made, for a caller that writes it out while the rest
// is drawn: its header and colour table once, before any row, then its rows
// as they are drawn (RowsHook: any thread, several at once). On failure
// what it was told is not the picture.
struct PictureSink {
  RowsHook rows;  // first: the hook is the sink
  void (*begin)(PictureSink* sink, const uint8_t* info, uint32_t infoSize);
};

// Told of each layer or mask whose filters the picture does not apply
// (GIMP 3's non-destructive filters), before any row is drawn; `layer`
// names it as a reason does (`layer 3 "Sky"`).
struct FilterHook {
  void (*tell)(FilterHook* hook, const char* layer, const XcfFoundFilters& found);
};

// Every layer's and mask's filters, as GetPictureWith would tell them, for
// the tool's `info`.
int GetPictureFiltersWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, FilterHook* hook,
                          const Limits& limits, Reason* reason);

// The XCF version and precision of a file, as GetPictureInfoWith reads its
// header (the tool's `info` prints them).
int GetPictureFormatWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, XcfFormat* format,
                         const Limits& limits, Reason* reason);

int GetPictureInfoWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, PictureInfo* info,
                       const Limits& limits, Reason* reason);

// Which picture of a file a call draws.
enum class PictureKind : uint8_t {
  // What GetPicture hands a viewer: over black, without alpha.
  Viewer,
  // As GIMP shows the file, its transparency kept: where some pixel can be
  // transparent (decided from the plan before drawing), GIMP's projection
  // in a bitmap of 32 bits, blue, green, red and alpha (not weighed by
  // it), with the gray ramp for a gray picture's colour table and the
  // colormap for an indexed one's (none for RGB); else the viewer's.
  Transparent,
  // Laid on a colour as GIMP's Flatten Image lays it: the viewer's layout.
  OverColour,
};
struct PictureChoice {
  PictureKind kind;
  uint8_t colour[3];  // OverColour's, red first
};

int GetPictureWith(const char* buffer, int32_t offsetOrSize, uint32_t flag, HLOCAL* info, HLOCAL* bits,
                   ProgressCallback progress, intptr_t userData, const Limits& limits, Reason* reason,
                   PictureSink* sink = nullptr, FilterHook* filters = nullptr,
                   PictureChoice choice = PictureChoice{PictureKind::Viewer, {0, 0, 0}});

}  // namespace tessel
