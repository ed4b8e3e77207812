// trellan-rows: prints the rows of a capture file as Trellan's views show them, for scripts
// and for checking a capture.
//
//   trellan-rows [--view NAME|all] [--tcp-offset N] [--udp-offset N] [--filter EXPR]
//                [--ipv6-vlan] FILE
//   trellan-rows --payload VIEW:ROW [--hex] [--tcp-offset N] [--udp-offset N] [--filter EXPR]
//                [--ipv6-vlan] FILE
//   trellan-rows --follow VIEW:ROW [--hex] [--filter EXPR] [--ipv6-vlan] FILE
//   trellan-rows --stats summary|protocols|conv,KIND|endpoints,KIND|io,SECONDS [--filter EXPR]
//                FILE
//   trellan-rows --tcp-analysis [--filter EXPR] FILE
//   trellan-rows --help | --version
//
// The file is read and filed exactly as the window does it; --ipv6-vlan decodes as the window
// does with View > Decode IPv6 and VLAN on. Each chosen view is printed in
// tab order: "# " and its tab caption, a tab-separated line of the column captions, then one
// tab-separated line per row with every column, hidden ones included. A cell is written as its
// bytes, with backslash, tab, carriage return and line feed written as \\, \t, \r and \n.
// --payload prints what the payload pane shows for row ROW (counted from 0) of VIEW.
// --follow prints the TCP or UDP conversation of that row as the Follow Stream window shows
// it: per chunk a heading line (">>> A -> B (frame N, L bytes)", "<<< " for the other side)
// and its bytes (raw, ended by a line feed when they do not end with one, or with --hex as the
// pane's hex dump), "... N bytes missing ..." for bytes the capture lacks, then one "=== "
// line per side with its byte counts.
// --stats prints a table of the Statistics menu (it may be given several times): "# " and its
// title, a tab-separated line of column captions, one line per row. KIND is eth, ip, ipv6, tcp
// or udp; io's SECONDS the interval (0.000001 to 3600). Every frame is decoded with IPv6 and
// VLAN for them, as the windows do.
// --tcp-analysis prints the TCP trouble of every frame as tshark's tcp.analysis fields judge
// it: "# TCP analysis", then "Frame\tTrouble\tDuplicate ACK\tOf frame" and a line per frame
// with trouble (its kinds joined by ", "); "# TCP analysis: kinds" with a "Trouble\tFrames"
// line per kind; "# TCP analysis: conversations" with the addresses, ports, frames and bytes
// of each connection with trouble and a column per kind. Frames are decoded as deeply as the
// program can, whatever --ipv6-vlan says.
//
// To a terminal (standard output a tty), what a capture brings is shown, not obeyed: its
// controls (other than the tabs and line feeds of the format itself), DEL, C1 controls and
// bytes the locale's character set cannot show are written as \xHH (presentation/
// TerminalText.h). The format's own separators are the tabs between cells and the line feeds
// ending the lines of the rows (a cell's own tabs and line breaks are already \t, \r, \n),
// the line feeds ending the payload pane's lines and hex dump lines, and the line feeds ending
// the lines --follow writes; the bytes of a followed chunk are all its own, so its tabs, CRs
// and line feeds are escaped too. A backslash of a payload is then written \\, as a cell's
// already is. To a pipe or a file every byte is written as it is.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <langinfo.h>
#include <locale.h>
#include <optional>
#include <pcap/pcap.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/Conversation.h"
#include "pipeline/TrafficStatistics.h"
#include "pipeline/TCPAnalysis.h"
#include "platform/IntegerText.h"
#include "presentation/CellText.h"
#include "presentation/PacketLists.h"
#include "presentation/PayloadText.h"
#include "presentation/RowExport.h"
#include "presentation/TerminalText.h"
#include "presentation/Views.h"

namespace {
const char* const Usage =
    "usage: trellan-rows [--view NAME|all] [--tcp-offset N] [--udp-offset N] [--filter EXPR]\n"
    "                    [--ipv6-vlan] FILE\n"
    "       trellan-rows --payload VIEW:ROW [--hex] [--tcp-offset N] [--udp-offset N]\n"
    "                    [--filter EXPR] [--ipv6-vlan] FILE\n"
    "       trellan-rows --follow VIEW:ROW [--hex] [--filter EXPR] [--ipv6-vlan] FILE\n"
    "       trellan-rows --stats summary|protocols|conv,KIND|endpoints,KIND|io,SECONDS\n"
    "                    [--filter EXPR] FILE\n"
    "       trellan-rows --tcp-analysis [--filter EXPR] FILE\n"
    "       trellan-rows --help | --version\n"
    "NAME is a tab caption (Ethernet, IP, ARP, ICMP, TCP, UDP, \"TCP Data\", \"UDP Data\";\n"
    "letter case and blanks do not matter) or a list view name such as lvTCPData.\n"
    "KIND is eth, ip, ipv6, tcp or udp.\n";

int Fail(const std::string& message, int code) {
  // A file's name or a filter may hold controls too: a terminal shows them, not obeys them.
  if (isatty(STDERR_FILENO)) {
    setlocale(LC_CTYPE, "");
    const std::string shown =
        TerminalText(message, {TerminalCharsetOf(nl_langinfo(CODESET)), {}, false});
    std::fprintf(stderr, "trellan-rows: %s\n", shown.c_str());
  } else {
    std::fprintf(stderr, "trellan-rows: %s\n", message.c_str());
  }
  return code;
}

std::string Folded(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<int32_t> ViewByName(std::string_view name) {
  for (int32_t v = 0; v < ViewCount; ++v)
    if (Folded(name) == Folded(ViewSpecs[size_t(v)].Caption) ||
        Folded(name) == Folded(ViewSpecs[size_t(v)].Name))
      return v;
  return std::nullopt;
}

// ---- --stats ----------------------------------------------------------------------------------

// The interval of "io,SECONDS" in nanoseconds; 0 for a text that is not one.
int64_t IntervalOf(std::string_view text) {
  if (text.empty() || text.size() > 20) return 0;
  const std::string digits(text);
  char* end = nullptr;
  const double seconds = std::strtod(digits.c_str(), &end);
  if (*end || !(seconds >= 0.000001 && seconds <= 3600)) return 0;
  return int64_t(seconds * 1e9 + 0.5);
}

// The table a --stats argument names, and its kind or interval.
struct TStatsTable {
  std::string Name;  // summary, protocols, conv, endpoints, io
  TTrafficKind Kind = TTrafficKind::Ethernet;
  int64_t Interval = 0;
};

std::optional<TStatsTable> StatsTableOf(std::string_view text) {
  TStatsTable table;
  const size_t comma = text.find(',');
  table.Name = std::string(text.substr(0, comma));
  const std::string_view argument = comma == std::string_view::npos ? "" : text.substr(comma + 1);
  if (table.Name == "summary" || table.Name == "protocols")
    return comma == std::string_view::npos ? std::optional(table) : std::nullopt;
  if (table.Name == "conv" || table.Name == "endpoints") {
    const auto kind = TrafficKindByName(argument);
    if (!kind) return std::nullopt;
    table.Kind = *kind;
    return table;
  }
  if (table.Name == "io") {
    table.Interval = IntervalOf(argument);
    if (table.Interval) return table;
  }
  return std::nullopt;
}

std::string StatsTableError(const std::string& text) {
  if (StatsTableOf(text)) return {};
  return "no statistics table '" + text +
         "': summary, protocols, conv,KIND, endpoints,KIND (KIND eth, ip, ipv6, tcp, udp) or "
         "io,SECONDS (0.000001 to 3600)";
}

// Seconds with the microseconds the time stamps have.
std::string Seconds(int64_t nanoseconds) {
  char text[40];
  const char* sign = nanoseconds < 0 ? "-" : "";
  const uint64_t n = uint64_t(nanoseconds < 0 ? -nanoseconds : nanoseconds);
  std::snprintf(text, sizeof text, "%s%llu.%06llu", sign,
                static_cast<unsigned long long>(n / 1000000000),
                static_cast<unsigned long long>(n % 1000000000 / 1000));
  return text;
}

std::string Decimal(double value, int places) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", places, value);
  return text;
}

// "2026-12-11 15:20:18.123456" in UTC.
std::string UTCTime(int64_t nanoseconds) {
  const time_t seconds = time_t(nanoseconds / 1000000000);
  struct tm t {};
  gmtime_r(&seconds, &t);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%06lld UTC", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<long long>(nanoseconds % 1000000000 / 1000));
  return text;
}

// Bits a second over `nanoseconds`; empty over no time at all.
std::string BitsPerSecond(uint64_t bytes, int64_t nanoseconds) {
  if (nanoseconds <= 0) return {};
  return Decimal(double(bytes) * 8e9 / double(nanoseconds), 0);
}

void ProtocolLines(const TProtocolNode& node, int depth, const TProtocolNode& root,
                   std::string& out) {
  const auto share = [](uint64_t part, uint64_t whole) {
    return Decimal(whole ? 100.0 * double(part) / double(whole) : 0.0, 2);
  };
  out += std::string(size_t(depth) * 2, ' ') + node.Name + '\t' + std::to_string(node.Frames) +
         '\t' + share(node.Frames, root.Frames) + '\t' + std::to_string(node.Bytes) + '\t' +
         share(node.Bytes, root.Bytes) + '\n';
  for (const TProtocolNode& child : node.Children) ProtocolLines(child, depth + 1, root, out);
}

std::string StatsText(const TCapturePipeline& capture, const TStatsTable& table) {
  TTrafficStatistics stats;
  if (table.Interval) stats.SetInterval(table.Interval);
  stats.TakeIn(capture.Store(), capture.Count());
  const TCaptureTotals& totals = stats.Totals();
  const std::string kind = TrafficKindName(table.Kind);
  const bool ports = HasPorts(table.Kind);
  std::string out;
  if (table.Name == "summary") {
    const int64_t span = totals.LastTime - totals.FirstTime;
    std::string links;
    for (int32_t link : totals.LinkTypes)
      links += (links.empty() ? "" : ", ") + LinkTypeText(link);
    const auto perSecond = [&](double n) { return span > 0 ? Decimal(n * 1e9 / double(span), 3) : std::string(); };
    const std::pair<const char*, std::string> rows[] = {
        {"File", capture.FileName()},
        {"Format", capture.Format() == TCaptureFormat::Pcapng ? "pcapng" : "pcap"},
        {"File size", std::to_string(capture.FileSize())},
        {"Link types", links},
        {"Snapshot length", std::to_string(capture.SnapLength())},
        {"Frames", std::to_string(totals.Frames)},
        {"Captured bytes", std::to_string(totals.CapturedBytes)},
        {"Bytes on the wire", std::to_string(totals.WireBytes)},
        {"First frame", totals.Frames ? UTCTime(totals.FirstTime) : ""},
        {"Last frame", totals.Frames ? UTCTime(totals.LastTime) : ""},
        {"Time between", totals.Frames ? Seconds(span) : ""},
        {"Frames/s", perSecond(double(totals.Frames))},
        {"Bytes/s", perSecond(double(totals.WireBytes))},
        {"Average frame size",
         totals.Frames ? Decimal(double(totals.WireBytes) / double(totals.Frames), 1) : ""},
    };
    out = "# Capture summary\nField\tValue\n";
    for (const auto& [field, value] : rows) out += std::string(field) + '\t' + value + '\n';
  } else if (table.Name == "protocols") {
    out = "# Protocol hierarchy\nProtocol\tFrames\tFrames %\tBytes\tBytes %\n";
    ProtocolLines(stats.Protocols(), 0, stats.Protocols(), out);
  } else if (table.Name == "conv") {
    out = "# " + kind + " conversations\nAddress A\t" + (ports ? "Port A\t" : "") + "Address B\t" +
          (ports ? "Port B\t" : "") +
          "Frames\tBytes\tFrames A->B\tBytes A->B\tFrames B->A\tBytes B->A\tRel Start\tDuration\t"
          "Bits/s A->B\tBits/s B->A\n";
    for (const TConversationStats& c : stats.Conversations(table.Kind)) {
      const int64_t duration = c.LastTime - c.FirstTime;
      out += AddressText(c.A) + '\t' + (ports ? std::to_string(c.A.Port) + '\t' : "") +
             AddressText(c.B) + '\t' + (ports ? std::to_string(c.B.Port) + '\t' : "") +
             std::to_string(c.Frames()) + '\t' + std::to_string(c.Bytes()) + '\t' +
             std::to_string(c.FramesAToB) + '\t' + std::to_string(c.BytesAToB) + '\t' +
             std::to_string(c.FramesBToA) + '\t' + std::to_string(c.BytesBToA) + '\t' +
             Seconds(c.FirstTime - stats.StartTime()) + '\t' + Seconds(duration) + '\t' +
             BitsPerSecond(c.BytesAToB, duration) + '\t' + BitsPerSecond(c.BytesBToA, duration) +
             '\n';
    }
  } else if (table.Name == "endpoints") {
    out = "# " + kind + " endpoints\nAddress\t" + (ports ? "Port\t" : "") +
          "Frames\tBytes\tTx Frames\tTx Bytes\tRx Frames\tRx Bytes\n";
    for (const TEndpointStats& e : stats.Endpoints(table.Kind))
      out += AddressText(e.Address) + '\t' + (ports ? std::to_string(e.Address.Port) + '\t' : "") +
             std::to_string(e.Frames()) + '\t' + std::to_string(e.Bytes()) + '\t' +
             std::to_string(e.TxFrames) + '\t' + std::to_string(e.TxBytes) + '\t' +
             std::to_string(e.RxFrames) + '\t' + std::to_string(e.RxBytes) + '\n';
  } else {
    out = "# I/O, " + Seconds(table.Interval) + " s intervals\nStart\tFrames\tBytes\n";
    const std::vector<TIntervalCounts>& intervals = stats.Intervals();
    for (size_t i = 0; i < intervals.size(); ++i)
      out += Seconds(int64_t(i) * table.Interval) + '\t' + std::to_string(intervals[i].Frames) +
             '\t' + std::to_string(intervals[i].Bytes) + '\n';
    if (stats.IntervalsCut())
      out += "# the capture lasts more than " + std::to_string(TTrafficStatistics::MaxIntervals) +
             " intervals: later frames are left out\n";
  }
  return out;
}

struct Options {
  std::vector<int32_t> views;
  int32_t tcpOffset = 0, udpOffset = 0;
  std::string filter, file;
  std::optional<int32_t> payloadView;
  int64_t payloadRow = -1;
  bool follow = false;  // --follow: payloadView and payloadRow name the row to follow
  bool tcpAnalysis = false;
  bool hex = false;
  bool deep = false;  // --ipv6-vlan
  std::vector<std::string> stats;  // --stats tables, in the order given
  bool help = false, version = false;
};

// Parses the arguments; an empty text means success, anything else is the error.
std::string Parse(int argc, char** argv, Options& o) {
  bool allViews = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    if (arg == "--view") {
      const auto v = value();
      if (!v) return "--view needs a view name";
      if (*v == "all") continue;
      const auto view = ViewByName(*v);
      if (!view) return "no view named '" + *v + "'";
      if (allViews) o.views.clear();
      allViews = false;
      o.views.push_back(*view);
    } else if (arg == "--tcp-offset" || arg == "--udp-offset") {
      const auto v = value();
      if (!v) return arg + " needs a number";
      try {
        (arg == "--tcp-offset" ? o.tcpOffset : o.udpOffset) = platform::StrToInt(*v);
      } catch (const platform::EConvertError& e) {
        return e.what();
      }
    } else if (arg == "--filter") {
      const auto v = value();
      if (!v) return "--filter needs an expression";
      o.filter = *v;
    } else if (arg == "--payload" || arg == "--follow") {
      o.follow = arg == "--follow";
      const auto v = value();
      const size_t colon = v ? v->rfind(':') : std::string::npos;
      if (colon == std::string::npos) return arg + " needs VIEW:ROW";
      o.payloadView = ViewByName(v->substr(0, colon));
      if (!o.payloadView) return "no view named '" + v->substr(0, colon) + "'";
      try {
        o.payloadRow = platform::StrToInt(v->substr(colon + 1));
      } catch (const platform::EConvertError& e) {
        return e.what();
      }
    } else if (arg == "--stats") {
      const auto v = value();
      if (!v) return "--stats needs a table name";
      if (const std::string error = StatsTableError(*v); !error.empty()) return error;
      o.stats.push_back(*v);
    } else if (arg == "--tcp-analysis") {
      o.tcpAnalysis = true;
    } else if (arg == "--hex") {
      o.hex = true;
    } else if (arg == "--ipv6-vlan") {
      o.deep = true;
    } else if (arg == "--help") {
      o.help = true;
      return {};
    } else if (arg == "--version") {
      o.version = true;
    } else if (arg.starts_with("--")) {
      return "unknown option " + arg;
    } else if (o.file.empty()) {
      o.file = arg;
    } else {
      return "more than one file given";
    }
  }
  if (o.version) return {};
  if (o.file.empty()) return "no capture file given";
  if (allViews)
    for (int32_t v = 0; v < ViewCount; ++v) o.views.push_back(v);
  return {};
}

// The character set of the terminal that standard output is, as the locale names it; none when
// standard output is not a terminal, and every byte is then written as it is.
std::optional<TTerminalCharset> OutputTerminal() {
  if (!isatty(STDOUT_FILENO)) return std::nullopt;
  setlocale(LC_CTYPE, "");
  return TerminalCharsetOf(nl_langinfo(CODESET));
}

// Appends `text` to `out` as it is, or escaped for the terminal (when there is one) with
// `separators` passing and a backslash written \\.
void AppendForOutput(std::string_view text, const std::optional<TTerminalCharset>& terminal,
                     std::string_view separators, std::string& out) {
  if (terminal)
    AppendTerminalText(text, {*terminal, separators, true}, out);
  else
    out += text;
}

// The conversation of `frame` as --follow prints it; an empty text when it has none.
std::string FollowText(const TCapturePipeline& capture, const TFrame& frame, bool hex,
                       const std::optional<TTerminalCharset>& terminal) {
  const auto conversation = FollowConversation(capture, frame);
  if (!conversation) return {};
  std::string out;
  for (const TConversationChunk& chunk : conversation->Chunks) {
    if (chunk.Gap) {
      out += GapText(chunk.Length) + '\n';
      continue;
    }
    out += ChunkHeading(*conversation, chunk) + '\n';
    const std::string_view bytes = ChunkBytes(capture.Store(), chunk);
    if (hex)
      AppendForOutput(HexDumpLines(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                      terminal, "\n", out);
    else
      AppendForOutput(bytes, terminal, "", out);
    if (!out.empty() && out.back() != '\n') out += '\n';
  }
  const auto digits = [](uint64_t n) { return std::to_string(n); };
  for (int side = 0; side < 2; ++side)
    out += "=== " + DirectionText(*conversation, side) + ": " +
           SideBytesText(*conversation, side, digits) + '\n';
  return out;
}

// An endpoint's address without its port, as EndpointText writes it ("[...]" for IPv6 gone).
std::string AddressOf(const TTrafficAddress& address) {
  TConversationEndpoint endpoint;
  endpoint.Address = address.Bytes;
  endpoint.Family = address.Family;
  std::string text = EndpointText(endpoint);
  text.resize(text.rfind(':'));
  if (endpoint.Family == 6) text = text.substr(1, text.size() - 2);
  return text;
}

// What --tcp-analysis prints.
std::string TCPAnalysisText(const TCapturePipeline& capture) {
  TTCPAnalysis analysis;
  analysis.TakeIn(capture.Store(), capture.Store().Count());
  std::string out = "# TCP analysis\nFrame\tTrouble\tDuplicate ACK\tOf frame\n";
  for (int32_t n = 1; n <= analysis.Taken(); ++n) {
    const uint16_t troubles = analysis.Troubles(n);
    if (!troubles) continue;
    out += std::to_string(n) + '\t';
    for (int bit = 0, first = 1; bit < TCPTroubleKinds; ++bit)
      if (troubles & (1 << bit)) {
        if (!first) out += ", ";
        out += TCPTroubleName(bit);
        first = 0;
      }
    out += '\t';
    if (troubles & TCPDuplicateAck)
      out += std::to_string(analysis.DuplicateAckCount(n)) + '\t' +
             std::to_string(analysis.DuplicatedAckFrame(n));
    else
      out += '\t';
    out += '\n';
  }
  out += "# TCP analysis: kinds\nTrouble\tFrames\n";
  for (int bit = 0; bit < TCPTroubleKinds; ++bit)
    out += std::string(TCPTroubleName(bit)) + '\t' + std::to_string(analysis.Counts()[size_t(bit)]) + '\n';
  out += "# TCP analysis: conversations\nAddress A\tPort A\tAddress B\tPort B\tFrames\tBytes";
  for (int bit = 0; bit < TCPTroubleKinds; ++bit) out += std::string("\t") + TCPTroubleName(bit);
  out += '\n';
  for (const TTCPConversationTrouble& t : analysis.Conversations()) {
    const TConversationStats& c = t.Conversation;
    out += AddressOf(c.A) + '\t' + std::to_string(c.A.Port) + '\t' + AddressOf(c.B) + '\t' +
           std::to_string(c.B.Port) + '\t' + std::to_string(c.Frames()) + '\t' +
           std::to_string(c.Bytes());
    for (uint32_t count : t.Counts) out += '\t' + std::to_string(count);
    out += '\n';
  }
  return out;
}
}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const std::string error = Parse(argc, argv, o); !error.empty()) {
    std::fprintf(stderr, "trellan-rows: %s\n%s", error.c_str(), Usage);
    return 2;
  }
  if (o.help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (o.version) {
    std::printf("trellan-rows %s\n%s\n", TRELLAN_VERSION, pcap_lib_version());
    return 0;
  }

  const std::optional<TTerminalCharset> terminal = OutputTerminal();
  TCapturePipeline capture;
  capture.SetDecodeIPv6AndVLAN(o.deep);
  std::string error;
  const auto read = capture.ReadFile(o.file, o.filter, error);
  if (read == TCapturePipeline::TReadResult::Failed) return Fail(error, 1);

  bool written = true;
  if (!o.stats.empty()) {
    std::string out;
    // A file's name may hold controls: to a terminal they are shown, not obeyed.
    for (const std::string& name : o.stats)
      AppendForOutput(StatsText(capture, *StatsTableOf(name)), terminal, "\t\n", out);
    written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  } else if (o.tcpAnalysis) {
    const std::string out = TCPAnalysisText(capture);
    written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  } else if (o.payloadView) {
    const TPacketList list = capture.Items(*o.payloadView);
    if (o.payloadRow < 0 || size_t(o.payloadRow) >= list.size())
      return Fail("view " + std::string(ViewSpecs[size_t(*o.payloadView)].Caption) + " has no row " +
                      std::to_string(o.payloadRow),
                  1);
    const int32_t view = *o.payloadView;
    const int32_t offset = PayloadOf(view) == TPayloadKind::TCP ? o.tcpOffset : o.udpOffset;
    std::string out;
    if (o.follow) {
      if (!HasPayloadPane(view))
        return Fail("--follow needs a row of the TCP, UDP, TCP Data or UDP Data view", 1);
      out = FollowText(capture, list[size_t(o.payloadRow)], o.hex, terminal);
      if (out.empty())
        return Fail("row " + std::to_string(o.payloadRow) +
                        " has no conversation: its ports were not captured",
                    1);
    } else {
      // The pane's lines (and the dump's) are ended by line feeds, every CR made one.
      AppendForOutput(PaneLines(PayloadText(view, list[size_t(o.payloadRow)], offset, o.hex)),
                      terminal, "\n", out);
    }
    if (!out.empty() && out.back() != '\n') out += '\n';
    written = std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
  } else {
    // Pieces of about a megabyte go straight to the descriptor: stdio would only copy them.
    // A piece is whole lines, so that no UTF-8 sequence is split between two. To a terminal,
    // tabs and line feeds are the format's: a cell's own are \t and \n, as its backslashes
    // are \\ already.
    std::string escaped;
    auto sink = [&](std::string_view text, size_t) {
      if (terminal) {
        escaped.clear();
        AppendTerminalText(text, {*terminal, "\t\n", false}, escaped);
        text = escaped;
      }
      return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    };
    for (int32_t view : o.views) {
      TRowSource rows;
      rows.View = view;
      rows.Items = capture.Items(view);
      rows.TCPDataOffset = o.tcpOffset;
      rows.UDPDataOffset = o.udpOffset;
      // Building a row costs several times what writing it does: a second thread builds
      // every other piece of rows, so that a script waits about half as long on two cores.
      if (!WriteRows(TRowFormat::RowsText, rows, sink, true)) {
        written = false;
        break;
      }
    }
  }
  // A file that could not be read to its end: what was read is printed, and the error told,
  // so that a script never takes part of a capture for all of it.
  if (read != TCapturePipeline::TReadResult::Complete)
    return Fail(error.find(o.file) == std::string::npos ? o.file + ": " + error : error, 1);
  if (!written || std::fflush(stdout) != 0 || std::ferror(stdout))
    return Fail("cannot write the rows", 1);
  return 0;
}
