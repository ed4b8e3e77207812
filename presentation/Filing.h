#pragma once
// The rule that files a frame into the eight packet views; nothing here knows a widget.
//
// Bounds: every routine that reads a frame takes `end`, the first byte past its captured
// bytes, and reads nothing at or past it, whatever the length fields of the headers claim.
#include <cstdint>

#include "capture/QuarnFrame.h"

// ---- Filing -----------------------------------------------------------------------------------

// The lists a frame belongs to, one bit per view (ListBit). The window's filing and the
// capture progress counters both use it, so their categories always agree.
using TListSet = uint8_t;
constexpr TListSet ListBit(int32_t view) { return TListSet(1u << view); }
TListSet FrameLists(const ETH_HDR* frame, const uint8_t* end);
