#include "platform/CommaText.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/platform/RandomText.h"

using platform::CommaText;
using platform::ParseCommaText;
using List = std::vector<std::string>;

TEST(CommaText, HandWrittenValues) {
  // Outside quotes a blank separates entries as a comma does.
  EXPECT_EQ(ParseCommaText("tcp udp"), (List{"tcp", "udp"}));
  EXPECT_EQ(ParseCommaText(" \t tcp , udp"), (List{"tcp", "udp"}));
  EXPECT_EQ(ParseCommaText("\"not closed, at all"), List{"not closed, at all"});
  EXPECT_EQ(ParseCommaText("a,,b"), (List{"a", "", "b"}));
  EXPECT_EQ(ParseCommaText(std::string("a,b\0c", 5)), (List{"a", "b"}));
}

TEST(CommaText, RandomListsReadBackUnchanged) {
  const std::string alphabet = "ab ,\"\t\x01\x1f\n\r\x7f\xe9\xff=;[]";
  std::mt19937 random(20240917);
  for (int round = 0; round < 5000; ++round) {
    const List list = RandomList(random, alphabet, 5, 6);
    const std::string line = CommaText(list);
    ASSERT_EQ(ParseCommaText(line), list) << "line [" << line << "]";
  }
}

TEST(CommaText, LengthLimitKeepsWholeLeadingEntries) {
  // An empty filter first: kept alone, it still has to be written as an entry.
  const List history{"", "host 10.0.0.1", "\"quoted\" entry", "udp"};
  const std::string full = CommaText(history);
  for (size_t limit = 0; limit <= full.size(); ++limit) {
    const std::string line = CommaText(history, limit);
    EXPECT_LE(line.size(), limit);
    const List kept = ParseCommaText(line);
    ASSERT_LE(kept.size(), history.size());
    EXPECT_EQ(kept, List(history.begin(), history.begin() + std::ptrdiff_t(kept.size())));
    // Nothing more would have fitted.
    if (kept.size() < history.size()) {
      const List oneMore(history.begin(), history.begin() + std::ptrdiff_t(kept.size()) + 1);
      EXPECT_GT(CommaText(oneMore).size(), limit);
    }
  }
}
