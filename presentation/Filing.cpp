#include "presentation/Filing.h"

#include "presentation/Views.h"

// ---- Filing -----------------------------------------------------------------------------------

TListSet FrameLists(const TPacketLayers& layers) {
  TListSet lists = 0;
  for (int32_t view = 0; view < ViewCount; ++view)
    if (Holds(ViewSpecs[size_t(view)].Frames, layers)) lists |= ListBit(view);
  return lists;
}

TListSet FrameLists(int32_t linkType, bool deep, const uint8_t* data, const uint8_t* end) {
  TPacketLayers layers;
  DecodeLayers(linkType, deep, data, end, layers);
  return FrameLists(layers);
}
