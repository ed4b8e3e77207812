#include "presentation/QuarnTCPOption.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {
// The names are kept exactly as users know them from earlier versions, including those
// that were cut short to fit a fixed field ("Echo Reply (obsoleted by option 8" and the like).
const char* OptionName(uint8_t kind) {
  static constexpr const char* Names[] = {
      "EOL",
      "NOP",
      "MSS",
      "Window Scale",
      "SACK Permitted",
      "SACK",
      "Echo (obsoleted by option 8)",
      "Echo Reply (obsoleted by option 8",
      "TSOPT - Time Stamp Option",
      "Partial Order Connection Permitte",
      "Partial Order Service Profile",
      "CC",
      "CC.NEW",
      "CC.ECHO",
      "TCP Alternate Checksum Request",
      "TCP Alternate Checksum Data",
      "Skeeter",
      "Bubba",
      "Trailer Checksum Option    [Velko",
      "MD5 Signature Option",
      "SCPS Capabilities",
      "Selective Negative Acknowledgements",
      "Record Boundaries",
      "Corruption experienced",
      "SNAP",
      "Unassigned (released 12/18/00)",
      "TCP Compression Filter",
      "Quick-Start Response",
  };
  if (kind < std::size(Names)) return Names[kind];
  if (kind == 253) return "RFC3692-style Experiment 1";
  if (kind == 254) return "RFC3692-style Experiment 2";
  return nullptr;
}
}  // namespace

int32_t DecodeTCPOption(const uint8_t* p, int32_t n, TQuarnTCPOption& option) {
  if (n < 1) return 0;
  option.Kind = p[0];
  int32_t taken = 1;
  if (option.Kind > 1) {
    if (n < 2) return 0;
    option.Length = p[1];
    const int32_t valueBytes = int32_t(option.Length) - 2;
    if (valueBytes > n - 2) return 0;
    if (valueBytes > 0)
      std::memcpy(option.Value, p + 2, size_t(std::min<int32_t>(valueBytes, sizeof option.Value)));
    // A length of 1 takes one byte, so the walk reads the length byte again as the next kind.
    taken = option.Length;
  }
  const char* name = OptionName(option.Kind);
  if (!name) return 0;
  std::memset(option.Name, 0, sizeof option.Name);
  std::memcpy(option.Name, name, std::min(std::strlen(name), sizeof option.Name));
  return taken;
}
