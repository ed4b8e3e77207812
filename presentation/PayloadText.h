#pragma once
// The payload pane's text and hex dump, and the captured bytes of a payload that both the pane
// and the Data column show; nothing here knows a widget.
//
// Bounds: every routine that reads a frame takes `end`, the first byte past its captured
// bytes, and reads nothing at or past it, whatever the length fields of the headers claim.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "capture/FrameStore.h"

// ---- Payload pane -----------------------------------------------------------------------------

// True when the dump's character column shows the byte as itself: 1F to 7F inclusive.
bool IsDumpCharacter(uint8_t byte);
// The hex dump of `count` bytes, 16 to a line, lines joined by "\n".
std::string HexDumpLines(const uint8_t* start, size_t count);
// What the payload pane under the TCP, UDP, TCP Data or UDP Data view shows for `node`: the
// payload after `dataOffset` leading bytes, as text (up to its first zero byte) or as a hex
// dump. The empty text clears the pane; the other four views have no pane and get it too.
std::string PayloadText(int32_t view, const TFrame& frame, int32_t dataOffset, bool hex);
// The lines the pane shows for a text: a CR LF pair, a lone CR and a lone LF each end a line,
// which the result writes as "\n".
std::string PaneLines(std::string_view text);

// ---- Captured bytes of a payload, shared by the Data column and the pane ----------------------

// The captured bytes of the TCP (TCP and TCP Data views) or UDP (UDP and UDP Data views)
// payload of `frame`, as long as the transport header says and within the captured bytes;
// empty for the other views, an unreadable frame, or a frame without that payload.
std::string_view TransportPayload(int32_t view, const TFrame& frame);

// The bytes from payload + from up to payload + to that lie within [frame, end). A negative
// data offset may reach in front of the payload: the window then starts no earlier than the
// first byte of the frame (the headers show as text), never before it. A length field that
// claims more than was captured ends the window at the last captured byte.
std::string_view CapturedWindow(const uint8_t* frame, const uint8_t* end, const uint8_t* payload,
                                int64_t from, int64_t to);
// Text shows an 8-bit string up to its first zero byte, as the list and the payload pane
// always have; the cut is made here so that every consumer of the text shows the same.
std::string_view UpToZero(std::string_view bytes);
