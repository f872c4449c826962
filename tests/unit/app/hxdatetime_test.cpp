#include "app/hxdatetime.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, 0}).value();
}

TEST(DateTime, DayZeroIsTheLastDayOf1899) {
  EXPECT_DOUBLE_EQ(At(1899, 12, 30), 0.0);
  EXPECT_DOUBLE_EQ(At(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(At(2000, 1, 1), 36526.0);
  EXPECT_DOUBLE_EQ(At(1899, 12, 30, 12), 0.5);
}

TEST(DateTime, FormatsAsTaskFilesKeepThem) {
  struct Case { TDateTime value; const char* text; } cases[] = {
      {At(1999, 12, 17, 9, 5, 0), "12/17/1999 09:05:00"},
      {1.5 / 24, "12/30/1899 01:30:00"},
      {26.0 / 24, "12/31/1899 02:00:00"},
      {At(2026, 2, 28, 23, 59, 59), "02/28/2026 23:59:59"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatTaskDateTime(c.value), c.text) << c.text;
}

TEST(DateTime, ParsesMonthFirstWithOptionalTime) {
  struct Case { const char* text; TDateTime expected; } cases[] = {
      {"12/17/1999 09:05:00", At(1999, 12, 17, 9, 5, 0)},
      {" 12/17/1999 09:05 ", At(1999, 12, 17, 9, 5, 0)},
      {"1/2/2003", At(2003, 1, 2)},
      {"12/31/1899 02:00:00", 26.0 / 24},
      {"12/17/1999 9:05:00 PM", At(1999, 12, 17, 21, 5, 0)},
      {"12/17/1999 12:00:00 AM", At(1999, 12, 17, 0, 0, 0)},
  };
  for (const auto& c : cases) {
    const auto parsed = ParseDateTime(c.text);
    ASSERT_TRUE(parsed.has_value()) << c.text;
    EXPECT_NEAR(*parsed, c.expected, 1e-9) << c.text;
  }
}

TEST(DateTime, RejectsTextThatIsNoDate) {
  for (const char* text : {"", "-", "12-17-1999 09:05:00", "13/01/2000", "02/30/2001", "12/17/1999 25:00:00",
                           "yesterday", "12/17/1999 09:05:00 x", "1/2/3/4", "\x01\x02"})
    EXPECT_FALSE(ParseDateTime(text).has_value()) << text;
}

TEST(DateTime, TwoDigitYearsFallNearToday) {
  const int thisYear = DecodeDateTime(Now()).Year;
  const auto parsed = ParseDateTime("06/15/" + std::to_string(thisYear % 100));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(DecodeDateTime(*parsed).Year, thisYear);
}

TEST(DateTime, RoundTripsThroughText) {
  for (TDateTime v : {0.0, 1.0 / 86400, 36526.75, 46000.123456, 26.0 / 24}) {
    const auto back = ParseDateTime(FormatTaskDateTime(v));
    ASSERT_TRUE(back) << v;
    EXPECT_NEAR(*back, v, 1.0 / 86400) << v;
  }
}

}  // namespace
