#include "platform/IntegerText.h"

#include <gtest/gtest.h>

#include <string>

using platform::StrToInt;
using platform::StrToIntDef;

TEST(IntegerText, ReadsDecimalAndEveryHexadecimalPrefix) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {
      {"0x100", 256},
      {"$10", 16},
      {"  42", 42},
      {"x1f", 31},
      {"X1F", 31},
      {"0X7b", 123},
      {"+7", 7},
      {"-7", -7},
      {"007", 7},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"$FFFFFFFF", -1},
      {"$80000000", INT32_MIN},
      {"$00000010", 16},
      {"-$10", -16},
      {"0", 0},
      {"-0", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StrToIntDef(c.text, 65535), c.value) << c.text;
    EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
  }
}

TEST(IntegerText, AnythingButAWholeIntegerGivesTheDefaultOrRaises) {
  const char* const cases[] = {
      "42a",
      "abc",
      "",
      "   ",
      "42 ",
      "4 2",
      "-",
      "+",
      "--1",
      "+-1",
      "$",
      "0x",
      "x",
      "$123456789",  // a ninth hexadecimal digit
      "$-1",
      "0x1G",
      "1e3",
      "1.5",
      "2147483648",
      "-2147483649",
      "99999999999999999999999",  // beyond 32 bits
  };
  for (const char* text : cases) {
    EXPECT_EQ(StrToIntDef(text, 65535), 65535) << text;
    EXPECT_EQ(StrToIntDef(text, -1), -1) << text;
    try {
      StrToInt(text);
      ADD_FAILURE() << "no error for '" << text << "'";
    } catch (const platform::EConvertError& e) {
      EXPECT_EQ(e.what(), "'" + std::string(text) + "' is not a valid integer value");
    }
  }
}
