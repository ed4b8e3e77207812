// The option line of the TCP views, read from real segments.
#include <gtest/gtest.h>

#include "presentation/CellText.h"
#include "presentation/QuarnTCPOption.h"
#include "tests/presentation/StoredFrames.h"

namespace {
// The option text of a TCP segment carrying `options`, of which `caplen` frame bytes were
// captured (0: all).
std::string OptionText(const Bytes& options, size_t caplen = 0) {
  TCPFields f;
  f.options = options;
  const Bytes frame = TcpFrame(f, {});
  const ExactNode node(frame, caplen ? caplen : frame.size());
  const uint8_t* end = node.Node().DataEnd();
  const TCP_HDR* tcp = nullptr;
  EXPECT_TRUE((tcp = node.Node().Layers().TCP()));
  std::string text;
  TCPOptionText(tcp, end, text);
  return text;
}
}  // namespace

TEST(TCPOption, NamesAndValuesOfCommonOptions) {
  EXPECT_EQ(OptionText({0x02, 0x04, 0x05, 0xB4, 0x01, 0x03, 0x03, 0x07, 0x01, 0x01, 0x04, 0x02}),
            "MSS(1460)/NOP/Window Scale(multiply by 128)/NOP/NOP/SACK Permitted");
  EXPECT_EQ(OptionText({}), "");
  EXPECT_EQ(OptionText({0x01, 0x01, 0x08, 0x0A, 0, 0, 0, 1, 0, 0, 0, 2}),
            "NOP/NOP/TSOPT - Time Stamp Option");
  // The multiplier is 1 shifted by the value taken modulo 32, as a signed 32-bit number.
  EXPECT_EQ(OptionText({0x01, 0x03, 0x03, 0x00}), "NOP/Window Scale(multiply by 1)");
  EXPECT_EQ(OptionText({0x01, 0x03, 0x03, 14}), "NOP/Window Scale(multiply by 16384)");
  EXPECT_EQ(OptionText({0x01, 0x03, 0x03, 31}), "NOP/Window Scale(multiply by -2147483648)");
  EXPECT_EQ(OptionText({0x01, 0x03, 0x03, 32}), "NOP/Window Scale(multiply by 1)");
  // EOL takes one byte like NOP, so padding after it shows as more EOLs.
  EXPECT_EQ(OptionText({0x02, 0x04, 0x05, 0xB4, 0x03, 0x03, 0x07, 0x00}),
            "MSS(1460)/Window Scale(multiply by 128)/EOL");
  // A SACK with 32 value bytes is named only, and the walk goes on after its 34 bytes.
  Bytes sack = {0x05, 34};
  sack.resize(34, 0xEE);
  sack.insert(sack.end(), {0x01, 0x01});
  EXPECT_EQ(OptionText(sack), "SACK/NOP/NOP");
}

TEST(TCPOption, MalformedOptionsEndTheWalk) {
  // A length that runs past the option area, an unlisted kind, a length of 0.
  EXPECT_EQ(OptionText({0x02, 0x06, 0x05, 0xB4}), "");
  EXPECT_EQ(OptionText({30, 0x04, 0x00, 0x00}), "");
  EXPECT_EQ(OptionText({0x02, 0x04, 0x05, 0xB4, 30, 0x04, 0x00, 0x00}), "MSS(1460)");
  EXPECT_EQ(OptionText({0x01, 0x02, 0x00, 0x00}), "NOP");
  // A length of 1 takes one byte: the length byte is read again as the next kind.
  EXPECT_EQ(OptionText({0x08, 0x01, 0x01, 0x00}), "TSOPT - Time Stamp Option/NOP/NOP/EOL");

  TQuarnTCPOption option{};
  const uint8_t mss[] = {0x02, 0x04, 0x05, 0xB4};
  EXPECT_EQ(DecodeTCPOption(mss, 0, option), 0);
  EXPECT_EQ(DecodeTCPOption(mss, 1, option), 0);  // no length byte
  EXPECT_EQ(DecodeTCPOption(mss, 3, option), 0);  // value cut off
  EXPECT_EQ(DecodeTCPOption(mss, 4, option), 4);
  EXPECT_EQ(option.Length, 4);
}

TEST(TCPOption, ShortMSSAndWindowScaleShowTheirNameOnly) {
  // Without its value bytes the record still holds the previous option's; no number is made
  // from them.
  EXPECT_EQ(OptionText({0x02, 0x04, 0x05, 0xB4, 0x02, 0x02, 0x01, 0x00}), "MSS(1460)/MSS/NOP/EOL");
  EXPECT_EQ(OptionText({0x02, 0x04, 0x05, 0xB4, 0x02, 0x03, 0x07, 0x00}), "MSS(1460)/MSS/EOL");
  EXPECT_EQ(OptionText({0x03, 0x03, 0x07, 0x03, 0x02, 0x01, 0x00, 0x00}),
            "Window Scale(multiply by 128)/Window Scale/NOP/EOL/EOL");
  // An MSS of length 1 shows its name; its length byte is then read as a NOP.
  EXPECT_EQ(OptionText({0x02, 0x01, 0x00, 0x00}), "MSS/NOP/EOL/EOL");
}

TEST(TCPOption, NameTableKeepsNamesCutShort) {
  const auto name = [](uint8_t kind) {
    TQuarnTCPOption option{};
    const uint8_t bytes[] = {kind, 0x02};
    return DecodeTCPOption(bytes, 2, option) ? std::string(option.Name) : std::string("-");
  };
  EXPECT_EQ(name(7), "Echo Reply (obsoleted by option 8");
  EXPECT_EQ(name(9), "Partial Order Connection Permitte");
  EXPECT_EQ(name(18), "Trailer Checksum Option    [Velko");
  EXPECT_EQ(name(21), "Selective Negative Acknowledgements");
  EXPECT_EQ(name(25), "Unassigned (released 12/18/00)");
  EXPECT_EQ(name(27), "Quick-Start Response");
  EXPECT_EQ(name(253), "RFC3692-style Experiment 1");
  EXPECT_EQ(name(254), "RFC3692-style Experiment 2");
  for (int kind = 28; kind <= 252; ++kind) EXPECT_EQ(name(uint8_t(kind)), "-") << kind;
  EXPECT_EQ(name(255), "-");
}

TEST(TCPOption, OptionsBeyondTheCaptureAreNotShown) {
  const Bytes options = {0x02, 0x04, 0x05, 0xB4, 0x01, 0x03, 0x03, 0x07};
  // Options start at frame byte 54; 60 bytes hold the MSS and the NOP and cut the Window
  // Scale short.
  EXPECT_EQ(OptionText(options, 62), "MSS(1460)/NOP/Window Scale(multiply by 128)");
  EXPECT_EQ(OptionText(options, 60), "MSS(1460)/NOP");
  EXPECT_EQ(OptionText(options, 57), "");
  EXPECT_EQ(OptionText(options, 54), "");
  EXPECT_EQ(OptionText(options, 40), "");  // the data offset itself was not captured
}
