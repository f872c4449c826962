// The byte level of the archive code: DOS times, comments and name flags,
// and telling intact, damaged and foreign files apart.
#include "archive/zipformat.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "archive/zipio.h"
#include "support/tempdir.h"
#include "ziptestkit.h"

using namespace ziptest;

namespace {

std::time_t Local(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST(DosTimeTest, LocalTimeInTwoSecondSteps) {
  struct Case {
    std::time_t in, back;
  } cases[] = {
      {Local(2024, 2, 29, 13, 45, 58), Local(2024, 2, 29, 13, 45, 58)},
      {Local(2024, 2, 29, 13, 45, 59), Local(2024, 2, 29, 13, 45, 58)},  // odd seconds go down
      {Local(1999, 12, 31, 23, 59, 59), Local(1999, 12, 31, 23, 59, 58)},
      {Local(1975, 6, 1, 12, 0, 0), Local(1980, 1, 1, 0, 0, 0)},  // DOS times start in 1980
  };
  for (const auto& c : cases) EXPECT_EQ(hxzip::FromDos(hxzip::ToDos(c.in)), c.back) << c.in;
  EXPECT_LT(hxzip::ToDos(Local(2024, 1, 1, 0, 0, 0)).Ordered(), hxzip::ToDos(Local(2024, 1, 1, 0, 0, 2)).Ordered());
  EXPECT_LT(hxzip::ToDos(Local(2023, 12, 31, 23, 59, 58)).Ordered(),
            hxzip::ToDos(Local(2024, 1, 1, 0, 0, 0)).Ordered());
}

TEST(CommentTest, CutTo255BytesOnACharacterBoundary) {
  const std::string e = "\xC3\xA9";  // two bytes
  struct Case {
    std::string in;
    std::size_t size;
  } cases[] = {
      {std::string(300, 'a'), 255},
      {std::string(255, 'a'), 255},
      {std::string(254, 'a') + e, 254},        // the second byte would be the 256th
      {std::string(253, 'a') + e + "b", 255},  // fits exactly
      {"short", 5},
  };
  for (const auto& c : cases) {
    const std::string cut = hxzip::CutComment(c.in);
    EXPECT_EQ(cut.size(), c.size);
    EXPECT_EQ(cut, c.in.substr(0, cut.size()));
    EXPECT_TRUE(hxzip::IsValidUtf8(cut));
  }
}

TEST(NameFlagsTest, Utf8FlagOnlyForUtf8BeyondAscii) {
  struct Case {
    std::string name, comment;
    std::uint16_t flags;
  } cases[] = {
      {"index.html", "plain", 0},
      {std::string("\xC3\xBC") + "ber.html", "", hxzip::kFlagUtf8},
      {"a.html", "caf\xC3\xA9", hxzip::kFlagUtf8},
      {"latin1-\xFC.html", "", 0},   // not UTF-8: no claim that it is
      {"\xED\xA0\x80.html", "", 0},  // a UTF-16 surrogate is no UTF-8
  };
  for (const auto& c : cases) EXPECT_EQ(hxzip::NameFlags(c.name, c.comment), c.flags) << c.name;
}

TEST(InspectArchiveTest, IntactDamagedAndForeignFiles) {
  const std::string good = RawArchive({{"a.txt", "alpha", ""}, {"b.txt", "beta", "comment"}});
  std::string pointsNowhere = good;
  pointsNowhere[good.size() - 6] = 1;  // the central directory offset: into the first local header
  const std::string endOnly = RawArchive({});
  struct Case {
    const char* what;
    std::string bytes;
    hxzip::ArchiveState state;
    std::uint64_t entries;
  } cases[] = {
      {"intact", good, hxzip::ArchiveState::Intact, 2},
      {"intact, bytes behind the end record", good + "\x01\x02\x03", hxzip::ArchiveState::Intact, 2},
      {"only an end record", endOnly, hxzip::ArchiveState::Intact, 0},
      {"Zip64 end", RawArchive({{"a.txt", "alpha", ""}}, true), hxzip::ArchiveState::Zip64, 1},
      {"no end", good.substr(0, good.size() - 30), hxzip::ArchiveState::Damaged, 0},
      {"end points elsewhere", pointsNowhere, hxzip::ArchiveState::Damaged, 0},
      {"text", "Just some text that is long enough to hold an end record.", hxzip::ArchiveState::NotZip, 0},
      {"end record signature in text", "text PK\x05\x06 more text and more", hxzip::ArchiveState::NotZip, 0},
      {"nothing", "", hxzip::ArchiveState::Empty, 0},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir.File("a.zip"), c.bytes);
    const hxzip::UniqueFd fd(::open(dir.File("a.zip").c_str(), O_RDONLY | O_CLOEXEC));
    hxzip::ArchiveLayout layout;
    ASSERT_EQ(hxzip::InspectArchive(fd.Get(), layout), 0);
    EXPECT_EQ(layout.state, c.state);
    EXPECT_EQ(layout.entries, c.entries);
    if (c.state == hxzip::ArchiveState::Intact) {
      EXPECT_EQ(layout.records.size(), c.entries);
    }
  }
}

}  // namespace
