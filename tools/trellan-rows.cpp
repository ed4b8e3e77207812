// trellan-rows: prints the rows of a capture file as Trellan's views show them, for scripts
// and for checking a capture.
//
//   trellan-rows [--view NAME|all] [--tcp-offset N] [--udp-offset N] [--filter EXPR]
//                [--ipv6-vlan] FILE
//   trellan-rows --payload VIEW:ROW [--hex] [--tcp-offset N] [--udp-offset N] [--filter EXPR]
//                [--ipv6-vlan] FILE
//   trellan-rows --follow VIEW:ROW [--hex] [--filter EXPR] [--ipv6-vlan] FILE
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
    "       trellan-rows --tcp-analysis [--filter EXPR] FILE\n"
    "       trellan-rows --help | --version\n"
    "NAME is a tab caption (Ethernet, IP, ARP, ICMP, TCP, UDP, \"TCP Data\", \"UDP Data\";\n"
    "letter case and blanks do not matter) or a list view name such as lvTCPData.\n";

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
  if (o.tcpAnalysis) {
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
