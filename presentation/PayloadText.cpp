#include "presentation/PayloadText.h"

#include <algorithm>
#include <cstring>

#include "presentation/Views.h"

// ---- Payload pane -----------------------------------------------------------------------------

bool IsDumpCharacter(uint8_t byte) { return byte >= 0x1F && byte <= 0x7F; }

std::string HexDumpLines(const uint8_t* start, size_t count) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  constexpr size_t PerLine = 16;
  // A full line: 16 characters, " [ ", 16 hex bytes of 3 characters, three "| ", "]", "\n".
  std::string dump;
  dump.reserve((count + PerLine - 1) / PerLine * 75);
  for (size_t line = 0; line < count; line += PerLine) {
    const size_t n = std::min(PerLine, count - line);
    const uint8_t* bytes = start + line;
    if (line) dump.push_back('\n');
    // The character part is followed by nine blanks and cut to 16, so short lines keep
    // their hex part close to the characters.
    for (size_t i = 0; i < n; ++i)
      dump.push_back(IsDumpCharacter(bytes[i]) ? char(bytes[i]) : '.');
    dump.append(std::min(n + 9, PerLine) - n, ' ');
    dump.append(" [ ");
    for (size_t i = 0; i < n; ++i) {
      if (i && i % 4 == 0) dump.append("| ");
      // "%2X ": a single digit gets a blank in front, not a zero.
      dump.push_back(bytes[i] < 0x10 ? ' ' : Digits[bytes[i] >> 4]);
      dump.push_back(Digits[bytes[i] & 0xF]);
      dump.push_back(' ');
    }
    dump.push_back(']');
  }
  return dump;
}

namespace {
// Where the TCP or UDP payload of a readable frame starts and how long its header says it is.
bool LocatePayload(int32_t view, const TFrame& frame, const uint8_t** payload, int32_t* length) {
  if (!frame.Readable) return false;
  const TPacketLayers layers = frame.Layers();
  // Unlike the Data column, the pane is not limited by the IP total length: it shows what
  // the transport header says, within the captured bytes.
  switch (PayloadOf(view)) {
    case TPayloadKind::TCP:
      if (!layers.TCP()) return false;
      TCPPayload(layers, payload, length);
      break;
    case TPayloadKind::UDP:
      if (!layers.UDP()) return false;
      UDPPayload(layers, payload, length);
      break;
    case TPayloadKind::None: return false;
  }
  return *payload != nullptr;
}
}  // namespace

std::string PayloadText(int32_t view, const TFrame& frame, int32_t dataOffset, bool hex) {
  const uint8_t* payload = nullptr;
  int32_t length = 0;
  if (!LocatePayload(view, frame, &payload, &length) || int64_t(length) - dataOffset <= 0)
    return {};
  const std::string_view bytes =
      CapturedWindow(frame.Data(), frame.DataEnd(), payload, dataOffset, length);
  if (hex) return HexDumpLines(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  // The pane holds text, which ends at the first zero byte; the dump shows every byte.
  return std::string(UpToZero(bytes));
}

std::string_view TransportPayload(int32_t view, const TFrame& frame) {
  const uint8_t* payload = nullptr;
  int32_t length = 0;
  if (!LocatePayload(view, frame, &payload, &length) || length <= 0) return {};
  return CapturedWindow(frame.Data(), frame.DataEnd(), payload, 0, length);
}

std::string PaneLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lines += text[i];
      continue;
    }
    lines += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return lines;
}

// ---- Captured bytes of a payload --------------------------------------------------------------

std::string_view CapturedWindow(const uint8_t* frame, const uint8_t* end, const uint8_t* payload,
                                int64_t from, int64_t to) {
  const int64_t base = payload - frame;
  const int64_t first = std::max<int64_t>(base + from, 0);
  const int64_t last = std::min<int64_t>(base + to, end - frame);
  if (first >= last) return {};
  return {reinterpret_cast<const char*>(frame + first), size_t(last - first)};
}

std::string_view UpToZero(std::string_view bytes) {
  if (bytes.empty()) return bytes;
  const auto* zero = static_cast<const char*>(std::memchr(bytes.data(), 0, bytes.size()));
  return zero ? bytes.substr(0, size_t(zero - bytes.data())) : bytes;
}
