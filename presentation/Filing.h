#pragma once
// The rule that files a frame into the eight packet views; nothing here knows a widget.
//
// Bounds: every routine that reads a frame takes `end`, the first byte past its captured
// bytes, and reads nothing at or past it, whatever the length fields of the headers claim.
#include <cstdint>

#include "capture/PacketLayers.h"

// ---- Filing -----------------------------------------------------------------------------------

// The lists a frame belongs to, one bit per view (ListBit). The window's filing and the
// capture progress counters both use it, so their categories always agree. Each view's rule
// (TViewFrames, Views.h) decides; a type code that was not captured counts as absent, so a frame cut
// before it goes no further, and a frame whose type codes were captured but whose headers were
// cut short is filed by them, its row showing empty cells for what is missing.
using TListSet = uint8_t;
constexpr TListSet ListBit(int32_t view) { return TListSet(1u << view); }
TListSet FrameLists(const TPacketLayers& layers);
TListSet FrameLists(int32_t linkType, bool deep, const uint8_t* data, const uint8_t* end);
