#include "xcf/layer_tree.h"

#include <cstdio>
#include <cstdlib>

namespace tessel {

namespace {

// Finds a parent by its item path in constant time per step, and appends in
// constant time, so that a file with many layers, or many records pointing
// at one, is linked in linear time. Node slot n stands for the top level.
struct TreeIndex {
  struct Entry {
    uint32_t parent;    // slot of the parent, n for the top level
    uint32_t position;  // among the parent's children
    uint32_t node;      // slot of the node; UINT32_MAX when the entry is free
  };
  uint32_t n = 0;
  XcfLayer** nodes = nullptr;     // n + 1 slots
  XcfLayer** lastChild = nullptr; // n + 1 slots
  uint32_t* childCount = nullptr; // n + 1 slots
  Entry* table = nullptr;
  uint32_t mask = 0;

  ~TreeIndex() {
    std::free(nodes);
    std::free(lastChild);
    std::free(childCount);
    std::free(table);
  }

  ResultCode Init(uint32_t layers) {
    n = layers;
    uint64_t slots = static_cast<uint64_t>(layers) + 1;
    uint64_t tableSize = 16;
    while (tableSize < 2 * slots) tableSize *= 2;
    if (tableSize * sizeof(Entry) > SIZE_MAX / 2) return ResultCode::OutOfMemory;
    nodes = static_cast<XcfLayer**>(std::calloc(static_cast<size_t>(slots), sizeof(XcfLayer*)));
    lastChild = static_cast<XcfLayer**>(std::calloc(static_cast<size_t>(slots), sizeof(XcfLayer*)));
    childCount = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(slots), sizeof(uint32_t)));
    table = static_cast<Entry*>(std::malloc(static_cast<size_t>(tableSize) * sizeof(Entry)));
    if (nodes == nullptr || lastChild == nullptr || childCount == nullptr || table == nullptr)
      return ResultCode::OutOfMemory;
    for (uint64_t i = 0; i < tableSize; ++i) table[i].node = UINT32_MAX;
    mask = static_cast<uint32_t>(tableSize - 1);
    return ResultCode::Ok;
  }

  static uint32_t Hash(uint32_t parent, uint32_t position) {
    uint64_t key = (static_cast<uint64_t>(parent) << 32) | position;
    key *= 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(key >> 32);
  }

  // The slot of child `position` of `parent`, or UINT32_MAX.
  uint32_t Find(uint32_t parent, uint32_t position) const {
    for (uint32_t i = Hash(parent, position) & mask;; i = (i + 1) & mask) {
      const Entry& e = table[i];
      if (e.node == UINT32_MAX) return UINT32_MAX;
      if (e.parent == parent && e.position == position) return e.node;
    }
  }

  // Links node slot `node` as the last child of `parent` (n: the top level).
  void Append(uint32_t parent, uint32_t node, XcfLayer** root) {
    XcfLayer* layer = nodes[node];
    XcfLayer* last = lastChild[parent];
    layer->prev = last;
    layer->next = nullptr;
    if (last != nullptr) {
      last->next = layer;
    } else if (parent == n) {
      *root = layer;
    } else {
      nodes[parent]->firstChild = layer;
    }
    lastChild[parent] = layer;
    uint32_t position = childCount[parent]++;
    uint32_t i = Hash(parent, position) & mask;
    while (table[i].node != UINT32_MAX) i = (i + 1) & mask;
    table[i] = Entry{parent, position, node};
  }
};

// The slot of the parent named by an item path: p[0] among the top level,
// then p[1] .. p[n-2] among children; the last element is not consulted.
ResultCode FindParent(const TreeIndex& index, const int32_t* path, uint32_t length, uint32_t* parent) {
  uint32_t last = length >= 2 ? length - 1 : 1;
  uint32_t slot = index.n;
  for (uint32_t i = 0; i < last; ++i) {
    if (path[i] < 0) return ResultCode::CorruptData;
    slot = index.Find(slot, static_cast<uint32_t>(path[i]));
    if (slot == UINT32_MAX) return ResultCode::CorruptData;
  }
  *parent = slot;
  return ResultCode::Ok;
}

// The item path as a reason shows it: its first elements.
void PathText(const int32_t* path, uint32_t length, char* out, size_t size) {
  size_t at = 0;
  out[0] = '\0';
  for (uint32_t i = 0; i < length && at + 16 < size; ++i)
    at += static_cast<size_t>(std::snprintf(out + at, size - at, i == 0 ? "[%d" : ", %d", path[i]));
  if (length > 0) std::snprintf(out + at, size - at, at + 16 < size ? "]" : ", ...]");
}

ResultCode LinkByItemPath(const ByteStream* stream, TreeIndex& index, uint32_t node, XcfLayer** root) {
  int32_t* path = nullptr;
  uint32_t length = 0;
  ResultCode result = XcfLayerGetItemPath(index.nodes[node], &path, &length);
  if (result == ResultCode::CorruptData)
    return StreamRefuse(stream, result, "its item path is shorter than one element");
  if (result != ResultCode::Ok) return StreamRefuse(stream, result, "no memory for its item path");
  uint32_t depth = length >= 2 ? length - 1 : 1;
  uint32_t parent = 0;
  const uint32_t deepest = StreamLimits(stream).groupDepth;
  if (depth > deepest) {
    result = StreamRefuse(stream, ResultCode::CorruptData, "groups nested deeper than %u", deepest);
  } else {
    result = FindParent(index, path, length, &parent);
    if (result != ResultCode::Ok) {
      char text[96];
      PathText(path, length, text, sizeof text);
      StreamRefuse(stream, result, "item path %s names a group that is not there", text);
    }
  }
  std::free(path);
  if (result == ResultCode::Ok) index.Append(parent, node, root);
  return result;
}

}  // namespace

XcfLayer* XcfLayerLastSibling(XcfLayer* layer) {
  if (layer == nullptr) return nullptr;
  while (layer->next != nullptr) layer = layer->next;
  return layer;
}

XcfLayer* XcfLayerSiblingAt(XcfLayer* layer, int64_t k) {
  for (; layer != nullptr && k > 0; --k) layer = layer->next;
  for (; layer != nullptr && k < 0; ++k) layer = layer->prev;
  return layer;
}

ResultCode XcfLayerAppendSibling(XcfLayer* list, XcfLayer* layer) {
  if (list == nullptr || layer == nullptr) return ResultCode::InvalidArgument;
  XcfLayer* last = XcfLayerLastSibling(list);
  last->next = layer;
  layer->prev = last;
  layer->next = nullptr;
  return ResultCode::Ok;
}

ResultCode XcfLayerAppendChild(XcfLayer* layer, XcfLayer* group) {
  if (layer == nullptr || group == nullptr) return ResultCode::InvalidArgument;
  if (group->firstChild == nullptr) {
    group->firstChild = layer;
    layer->prev = nullptr;
    layer->next = nullptr;
    return ResultCode::Ok;
  }
  return XcfLayerAppendSibling(group->firstChild, layer);
}

ResultCode XcfReadLayer(uint32_t index, XcfImage* image, XcfLayer** out) {
  if (out == nullptr) return ResultCode::InvalidArgument;
  *out = nullptr;
  if (image == nullptr || index >= image->layerOffsets.count) return ResultCode::InvalidArgument;
  if ((image->flags & kImageBodyValid) == 0) return ResultCode::NotReady;
  XcfLayer* layer = nullptr;
  ResultCode result = XcfLayerCreate(&layer);
  if (result != ResultCode::Ok) return StreamRefuse(image->stream, result, "no memory for a layer");
  layer->index = index;
  const bool told = ReasonKept(image->stream->reason);
  result = StreamSeek(image->stream, image->layerOffsets.offsets[index]);
  if (result != ResultCode::Ok) {
    StreamRefuse(image->stream, result, "its offset %u lies past the end of the data",
                 image->layerOffsets.offsets[index]);
  } else {
    result = XcfLayerReadRecord(layer, image->stream);
  }
  if (result != ResultCode::Ok) {
    if (!told) ReasonPrefix(image->stream->reason, "%s: ", NameOf(layer).text);
    XcfLayerDestroy(&layer);
    return result;
  }
  *out = layer;
  return ResultCode::Ok;
}

ResultCode XcfBuildLayerTree(XcfImage* image) {
  if (image == nullptr) return ResultCode::InvalidArgument;
  if (image->layers != nullptr) return ResultCode::Ok;
  // The body is read once: by a caller that read it, not again.
  ResultCode result = ResultCode::Ok;
  if ((image->flags & kImageBodyAttempted) == 0) result = XcfLoad(image);
  if (result != ResultCode::Ok) return result;
  if ((image->flags & kImageBodyValid) == 0) return ResultCode::NotReady;
  uint32_t count = image->layerOffsets.count;
  ByteStream* stream = image->stream;
  if (count == 0) return StreamRefuse(stream, ResultCode::CorruptData, "the image has no layers");

  TreeIndex index;
  result = index.Init(count);
  if (result != ResultCode::Ok) StreamRefuse(stream, result, "no memory for a tree of %u layers", count);
  XcfLayer* root = nullptr;
  for (uint32_t i = 0; i < count && result == ResultCode::Ok; ++i) {
    XcfLayer* layer = nullptr;
    result = XcfReadLayer(i, image, &layer);
    if (result != ResultCode::Ok) break;
    index.nodes[i] = layer;
    const bool told = ReasonKept(stream->reason);
    if (!XcfLayerHasItemPath(layer)) {
      index.Append(count, i, &root);
    } else if (i == 0) {
      result = StreamRefuse(stream, ResultCode::CorruptData, "the first layer has an item path: no group holds it");
    } else {
      result = LinkByItemPath(stream, index, i, &root);
    }
    if (result != ResultCode::Ok && !told) ReasonPrefix(stream->reason, "%s: ", NameOf(layer).text);
    if (result != ResultCode::Ok) XcfLayerDestroy(&index.nodes[i]);
  }
  if (result != ResultCode::Ok) {
    XcfLayerListDestroy(&root);  // every linked layer, each exactly once
    return result;
  }
  image->layers = root;
  return ResultCode::Ok;
}

bool XcfLayerDrawn(const XcfLayerInfo& info) { return (info.flags & kLayerVisible) != 0 && info.opacity > 0; }
bool XcfLayerInGraph(const XcfLayerInfo& info) { return (info.flags & kLayerVisible) != 0; }

namespace {

// Whether drawing the layer takes in its children: a group's only.
bool DrawsChildren(const XcfLayer* layer) { return XcfLayerIsGroup(layer) != 0; }

// Whether the layer's mask takes part by the rule: present (the plug-in's
// ApplyMask flag is set whenever it is), or applied as GIMP reads the file.
ResultCode MaskApplied(const XcfLayer* layer, const XcfLayerInfo& info, XcfMaskRule masks, bool* applied) {
  *applied = false;
  if ((info.flags & kLayerHasMask) == 0) return ResultCode::Ok;
  if (masks == XcfMaskRule::Present) {
    *applied = (info.flags & kLayerApplyMask) != 0;
    return ResultCode::Ok;
  }
  XcfLayerBlending blending{};
  if (XcfLayerGetBlending(layer, &blending) != ResultCode::Ok) return ResultCode::NotReady;
  *applied = blending.applyMask;
  return ResultCode::Ok;
}

struct Collect {
  XcfImage* image;
  XcfMaskRule masks;
  LayerLoadEntry* entries;
  uint32_t* count;
};

ResultCode CollectUnder(const Collect& c, XcfLayer* layer, uint32_t parent, uint32_t depth, bool drawn) {
  XcfLayerInfo info;
  ResultCode result = XcfLayerGetInfo(layer, &info);
  if (result != ResultCode::Ok) return result;
  if (!XcfLayerDrawn(info)) return ResultCode::Ok;
  // The tree holds one node per layer offset, so there is always a slot.
  ByteStream* stream = c.image->stream;
  if (*c.count >= c.image->layerOffsets.count)
    return StreamFault(stream, "the load list outgrows the %u layers of the file", c.image->layerOffsets.count);
  const uint32_t self = *c.count;
  LayerLoadEntry& entry = c.entries[self];
  entry = LayerLoadEntry{layer, (info.flags & kLayerGroup) ? 0u : 1u, 0, parent, depth, drawn ? 1u : 0u, 0};
  bool applied = false;
  result = MaskApplied(layer, info, c.masks, &applied);
  if (result != ResultCode::Ok) return result;
  if (applied) {
    result = XcfLayerReadMask(stream, layer);
    if (result != ResultCode::Ok) return result;
    if (layer->mask == nullptr)
      return StreamRefuse(stream, ResultCode::NotReady, "%s: its mask cannot be read, or is not the layer's size",
                          NameOf(layer).text);
    XcfChannelInfo maskInfo;
    result = XcfChannelGetInfo(layer->mask, &maskInfo);
    if (result != ResultCode::Ok) return result;
    entry.maskOpacity = c.masks == XcfMaskRule::Present ? maskInfo.opacity : 255;
    entry.loadMask = entry.maskOpacity > 0 ? 1 : 0;
  }
  *c.count += 1;
  const bool childrenDrawn = drawn && DrawsChildren(layer);
  for (XcfLayer* child = layer->firstChild; child != nullptr; child = child->next) {
    result = CollectUnder(c, child, self, depth + 1, childrenDrawn);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace

ResultCode XcfCollectLoadList(XcfLayer* layer, XcfImage* image, LayerLoadEntry* entries, uint32_t* count) {
  if (layer == nullptr || image == nullptr || entries == nullptr || count == nullptr)
    return ResultCode::InvalidArgument;
  return XcfCollectLoadListWith(layer, image, XcfMaskRule::Present, entries, count);
}

ResultCode XcfCollectLoadListWith(XcfLayer* layer, XcfImage* image, XcfMaskRule masks, LayerLoadEntry* entries,
                                  uint32_t* count) {
  return CollectUnder(Collect{image, masks, entries, count}, layer, kNoEntry, 0, true);
}

namespace {

ResultCode VisitUnder(XcfImage* image, XcfLayer* layer, bool drawn, XcfFilterVisit visit, void* context) {
  XcfLayerInfo info;
  ResultCode result = XcfLayerGetInfo(layer, &info);
  if (result != ResultCode::Ok) return result;
  drawn = drawn && XcfLayerDrawn(info);
  XcfFoundFilters found{layer, false, drawn, {}};
  if (layer->filterOffsets.count > 0) {
    result = XcfReadFilters(image->stream, &layer->filterOffsets, &found.filters);
    if (result != ResultCode::Ok) return result;
    visit(context, found);
  }
  if (layer->maskOffset != 0 && XcfChannelHasFilters(image->version)) {
    result = XcfLayerReadMask(image->stream, layer);
    if (result != ResultCode::Ok) return result;
    if (layer->mask != nullptr && layer->mask->filterOffsets.count > 0) {
      found.onMask = true;
      result = XcfReadFilters(image->stream, &layer->mask->filterOffsets, &found.filters);
      if (result != ResultCode::Ok) return result;
      visit(context, found);
    }
  }
  const bool childrenDrawn = drawn && DrawsChildren(layer);
  for (XcfLayer* child = layer->firstChild; child != nullptr; child = child->next) {
    result = VisitUnder(image, child, childrenDrawn, visit, context);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace

ResultCode XcfVisitFilters(XcfImage* image, XcfFilterVisit visit, void* context) {
  ResultCode result = XcfBuildLayerTree(image);
  if (result != ResultCode::Ok) return result;
  if (!XcfLayerHasFilters(image->version)) return ResultCode::Ok;
  for (XcfLayer* layer = image->layers; layer != nullptr; layer = layer->next) {
    result = VisitUnder(image, layer, true, visit, context);
    if (result != ResultCode::Ok) return result;
  }
  return ResultCode::Ok;
}

}  // namespace tessel
