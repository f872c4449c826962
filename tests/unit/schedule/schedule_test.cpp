#include "schedule/schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "app/language.h"
#include "app/thxapp.h"
#include "support/tempdir.h"
#include "tasks/thxtask.h"

namespace {

// 6 January 2025 is a Monday.
TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return EncodeDateTime({y, mo, d, h, mi, s, 0}).value();
}
TDateTime Jan(int day, int h = 0, int mi = 0, int s = 0) { return At(2025, 1, day, h, mi, s); }
TDateTime TimeOfDay(int h, int mi = 0, int s = 0) { return At(1899, 12, 30, h, mi, s); }
// Moments compare as their text: a failure shows a readable date.
std::string Text(TDateTime t) { return t != 0 ? FormatTaskDateTime(t) : ""; }

WeekdaySet Days(std::initializer_list<int> days) {
  WeekdaySet set{};
  for (int d : days) set[d] = true;
  return set;
}

constexpr int Sun = 0, Mon = 1, Tue = 2, Wed = 3, Thu = 4, Fri = 5, Sat = 6;
constexpr double kInf = std::numeric_limits<double>::infinity();

// ---- Texts -----------------------------------------------------------------

TEST(ScheduleText, KindIsToldByTheFirstWord) {
  struct Case { const char* text; ScheduleKind kind; } cases[] = {
      {"", ScheduleKind::None},
      {"Now", ScheduleKind::Now},
      {"Once at 01/06/25  10:00:00", ScheduleKind::Once},
      {"Every 2 hours, 30 mins", ScheduleKind::Every},
      {"Every", ScheduleKind::Every},
      {"Daily at 12:00:00", ScheduleKind::Daily},
      {"Weekly every Mon at 12:00:00", ScheduleKind::Weekly},
      {"Weekly every  at 12:00:00", ScheduleKind::Weekly},
      {"01/06/25 10:00:00", ScheduleKind::EditorOnceOff},
      {"now", ScheduleKind::Other},
      {"Nowhere", ScheduleKind::Other},
      {" Now", ScheduleKind::Other},
      {"Sometime soon", ScheduleKind::Other},
      {"13/45/25 10:00:00", ScheduleKind::Other},
  };
  for (const auto& c : cases) EXPECT_EQ(ScheduleKindOf(c.text), c.kind) << '"' << c.text << '"';
}

TEST(ScheduleText, EveryReadsHoursAndMinutesAsTheDialogCorrectsThem) {
  struct Case { const char* text; int hours, minutes; } cases[] = {
      {"Every 2 hours, 30 mins", 2, 30},
      {"Every 0 hours, 0 mins", 0, 0},
      {"Every 30 hours, 75 mins", 23, 59},
      {"Every 23 hours, 60 mins", 23, 59},
      {"Every 05 hours, 7 mins", 5, 7},
      {"Every x hours, y mins", 0, 0},
      {"Every 3 hours, y mins", 3, 0},
      {"Every  hours,  mins", 0, 0},
      {"Every", 0, 0},
      {"Every 4 days", 0, 0},
      {"Every -3 hours, -1 mins", 0, 0},
      {"Every 99999999999999999999 hours, 5 mins", 23, 5},
  };
  for (const auto& c : cases) {
    const ScheduleSpec plan = ParseSchedule(c.text);
    EXPECT_EQ(plan.Kind, ScheduleKind::Every) << c.text;
    EXPECT_EQ(plan.Hours, c.hours) << c.text;
    EXPECT_EQ(plan.Minutes, c.minutes) << c.text;
  }
}

TEST(ScheduleText, WeekdayIsChosenWhenItsNameOccursAnywhere) {
  struct Case { const char* text; WeekdaySet days; } cases[] = {
      {"Weekly every Mon, Wed, Fri at 12:00:00", Days({Mon, Wed, Fri})},
      {"Weekly every Sat, Sun at 12:00:00", Days({Sat, Sun})},
      {"Weekly every Mon, Tue, Wed, Thu, Fri, Sat, Sun at 12:00:00", Days({0, 1, 2, 3, 4, 5, 6})},
      {"Weekly every  at 12:00:00", Days({})},
      {"Weekly every mon at 12:00:00", Days({})},
      {"Weekly ThuFri", Days({Thu, Fri})},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseSchedule(c.text).Weekdays, c.days) << c.text;
}

TEST(ScheduleText, WrittenTextsReadBackToTheSameSchedule) {
  auto plan = [](ScheduleKind kind, TDateTime at = 0, int h = 0, int m = 0, WeekdaySet days = {}) {
    ScheduleSpec s;
    s.Kind = kind;
    s.At = at;
    s.Hours = h;
    s.Minutes = m;
    s.Weekdays = days;
    return s;
  };
  struct Case { ScheduleSpec plan; const char* text; } cases[] = {
      {plan(ScheduleKind::None), ""},
      {plan(ScheduleKind::Now), "Now"},
      {plan(ScheduleKind::Once, Jan(6, 10)), "Once at 01/06/25  10:00:00"},
      {plan(ScheduleKind::Once, At(2031, 12, 31, 23, 59, 59)), "Once at 12/31/31  23:59:59"},
      {plan(ScheduleKind::Every, 0, 2, 30), "Every 2 hours, 30 mins"},
      {plan(ScheduleKind::Every, 0, 0, 0), "Every 0 hours, 0 mins"},
      {plan(ScheduleKind::Every, 0, 23, 59), "Every 23 hours, 59 mins"},
      {plan(ScheduleKind::Daily, TimeOfDay(12)), "Daily at 12:00:00"},
      {plan(ScheduleKind::Daily, TimeOfDay(0, 0, 1)), "Daily at 00:00:01"},
      {plan(ScheduleKind::Weekly, TimeOfDay(7, 5, 9), 0, 0, Days({Mon, Wed, Fri})),
       "Weekly every Mon, Wed, Fri at 07:05:09"},
      {plan(ScheduleKind::Weekly, TimeOfDay(23, 0), 0, 0, Days({Sun, Sat})), "Weekly every Sat, Sun at 23:00:00"},
      {plan(ScheduleKind::EditorOnceOff, At(2025, 3, 4, 23, 59, 59)), "03/04/25 23:59:59"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScheduleText(c.plan), c.text);
    const ScheduleSpec back = ParseSchedule(c.text);
    EXPECT_EQ(back.Kind, c.plan.Kind) << c.text;
    EXPECT_EQ(back.Hours, c.plan.Hours) << c.text;
    EXPECT_EQ(back.Minutes, c.plan.Minutes) << c.text;
    EXPECT_EQ(back.Weekdays, c.plan.Weekdays) << c.text;
    EXPECT_EQ(Text(back.At), Text(c.plan.At)) << c.text;
    EXPECT_EQ(ScheduleText(back), c.text);
  }
}

TEST(ScheduleText, OutOfRangeEveryIsWrittenCorrected) {
  ScheduleSpec plan;
  plan.Kind = ScheduleKind::Every;
  plan.Hours = 30;
  plan.Minutes = -4;
  EXPECT_EQ(ScheduleText(plan), "Every 23 hours, 0 mins");
  plan.Kind = ScheduleKind::Other;
  EXPECT_EQ(ScheduleText(plan), "");
}

TEST(ScheduleText, DatesAreShortAndTimesHaveSeconds) {
  struct Case { TDateTime at; const char* date; const char* time; } cases[] = {
      {Jan(6, 9, 5, 7), "01/06/25", "09:05:07"},
      {At(1999, 12, 31, 23, 59, 59), "12/31/99", "23:59:59"},
      {At(2000, 2, 29), "02/29/00", "00:00:00"},
      {0, "12/30/99", "00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ScheduleDateText(c.at), c.date) << c.date;
    EXPECT_EQ(ScheduleTimeText(c.at), c.time) << c.time;
  }
}

TEST(Weekdays, CountFromSunday) {
  struct Case { TDateTime at; int weekday; } cases[] = {
      {Jan(5), Sun},          {Jan(6), Mon},           {Jan(6, 23, 59, 59), Mon}, {Jan(11), Sat},
      {0, Sat},               {1, Sun},                {At(2000, 1, 1), Sat},     {At(2024, 2, 29, 12), Thu},
      {At(1899, 12, 29), Fri}, {At(1899, 12, 24, 6), Sun},
  };
  for (const auto& c : cases) EXPECT_EQ(WeekdayOf(c.at), c.weekday) << Text(c.at);
}

TEST(Weekdays, NextRunMovesByWholeDaysToAChosenDayNotBeforeNow) {
  const WeekdaySet all = Days({0, 1, 2, 3, 4, 5, 6});
  struct Case { const char* name; TDateTime from, now; WeekdaySet days; TDateTime expected; } cases[] = {
      {"future stays", Jan(8, 10), Jan(6, 10, 30), all, Jan(8, 10)},
      {"equal to now stays", Jan(6, 10), Jan(6, 10), all, Jan(6, 10)},
      {"one second late", Jan(6, 10), Jan(6, 10, 0, 1), all, Jan(7, 10)},
      {"three days back", Jan(3, 10), Jan(6, 10, 30), all, Jan(7, 10)},
      {"three days back, before the time", Jan(3, 10), Jan(6, 9), all, Jan(6, 10)},
      {"next chosen weekday", Jan(6, 10), Jan(6, 10, 30), Days({Mon, Wed}), Jan(8, 10)},
      {"only Monday", Jan(6, 10), Jan(6, 10, 30), Days({Mon}), Jan(13, 10)},
      {"from a day not chosen", Jan(7, 10), Jan(6), Days({Mon}), Jan(13, 10)},
      {"weeks back", At(2024, 12, 23, 10), Jan(6, 9), Days({Mon}), Jan(6, 10)},
      {"no moment counts as day zero", 0, Jan(6, 10, 30), all, Jan(7)},
      {"across a year", At(2024, 12, 31, 22), Jan(1, 23), all, Jan(1, 22) + 1},
      {"before day zero", At(1899, 12, 24, 6), At(1899, 12, 25, 7), all, At(1899, 12, 26, 6)},
      {"over day zero", At(1899, 12, 29, 18), At(1899, 12, 30, 20), Days({Sun}), At(1899, 12, 31, 18)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Text(NextWeekdayRun(c.from, c.now, c.days)), Text(c.expected)) << c.name;
}

TEST(Weekdays, NoChosenDayLeavesTheMomentAlone) {
  EXPECT_EQ(NextWeekdayRun(Jan(3, 10), Jan(6), Days({})), Jan(3, 10));
}

TEST(Weekdays, MomentsThatAreNoMomentEndWithoutLooping) {
  const WeekdaySet all = Days({0, 1, 2, 3, 4, 5, 6});
  for (TDateTime odd : {kInf, -kInf, std::nan(""), 1e300, -1e300, -2'900'000.5})
    EXPECT_GE(NextWeekdayRun(odd, Jan(6, 10, 30), all), Jan(6, 10, 30)) << odd;
  EXPECT_EQ(Text(NextWeekdayRun(Jan(6, 10), kInf, Days({Mon}))), Text(Jan(6, 10)));
}

// ---- Tasks -----------------------------------------------------------------

class TaskScheduleTest : public ::testing::Test {
 protected:
  HarvixSandbox box;
  std::string file = HXApp->TasksFolder + "General/Site.hxt";

  std::unique_ptr<THXTask> NewTask(const std::string& schedule, TDateTime nextRun, std::int32_t status) {
    auto task = std::make_unique<THXTask>();
    task->FileName = file;
    task->Name = "Site";
    task->Url = "http://example.org/";
    task->Schedule = schedule;
    task->NextRun = nextRun;
    task->Status = status;
    task->SaveToFile();
    return task;
  }
  bool Listed() const {
    const auto& list = HXApp->ActiveTasks;
    return std::find(list.begin(), list.end(), file) != list.end();
  }
  void ExpectSaved(const THXTask& task, const std::string& name) {
    const auto saved = THXTask::LoadTask(file);
    EXPECT_EQ(saved->Status, task.Status) << name;
    EXPECT_EQ(saved->Schedule, task.Schedule) << name;
    EXPECT_EQ(Text(saved->NextRun), Text(task.NextRun)) << name;
    EXPECT_EQ(Listed(), task.Status == tsScheduled || task.Status == tsDownloading) << name;
  }
};

struct RescheduleCase {
  const char* name;
  const char* schedule;
  TDateTime nextRun;
  std::int32_t status;  // as the run left it
  TDateTime now;        // the end of the run
  TDateTime expectedNext;
  std::int32_t expectedStatus;
  const char* expectedSchedule;
  bool changed, refresh;
};

TEST_F(TaskScheduleTest, RescheduleMovesEachKindOn) {
  const RescheduleCase cases[] = {
      {"now is done", "Now", Jan(6, 9), tsTaskComplete, Jan(6, 10, 30), 0, tsTaskComplete, "", true, true},
      {"now stopped", "Now", 0, tsStopped, Jan(6, 10, 30), 0, tsStopped, "", true, true},
      {"once stays finished", "Once at 01/06/25  10:00:00", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30), Jan(6, 10),
       tsTaskComplete, "Once at 01/06/25  10:00:00", false, false},
      {"once zipped", "Once at 01/06/25  10:00:00", Jan(6, 10), tsZipped, Jan(6, 10, 30), Jan(6, 10), tsZipped,
       "Once at 01/06/25  10:00:00", false, false},
      {"every from the end of the run", "Every 2 hours, 30 mins", Jan(6, 10), tsDownloadComplete, Jan(6, 10, 30),
       Jan(6, 13), tsScheduled, "Every 2 hours, 30 mins", true, true},
      {"every overdue still from the end", "Every 2 hours, 30 mins", Jan(3, 10), tsStopped, Jan(6, 10, 30),
       Jan(6, 13), tsScheduled, "Every 2 hours, 30 mins", true, true},
      {"every 0:0 due at once", "Every 0 hours, 0 mins", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30),
       Jan(6, 10, 30), tsScheduled, "Every 0 hours, 0 mins", true, true},
      {"every 30:75 corrected", "Every 30 hours, 75 mins", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30),
       Jan(7, 10, 29), tsScheduled, "Every 30 hours, 75 mins", true, true},
      {"every no number reads 0", "Every x hours, 15 mins", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30),
       Jan(6, 10, 45), tsScheduled, "Every x hours, 15 mins", true, true},
      {"every without numbers", "Every", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30), Jan(6, 10, 30), tsScheduled,
       "Every", true, true},
      {"daily ends after due", "Daily at 10:00:00", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30), Jan(7, 10),
       tsScheduled, "Daily at 10:00:00", true, true},
      {"daily three days overdue", "Daily at 10:00:00", Jan(3, 10), tsTaskComplete, Jan(6, 10, 30), Jan(7, 10),
       tsScheduled, "Daily at 10:00:00", true, true},
      {"daily overdue, run ends before the time", "Daily at 10:00:00", Jan(3, 10), tsStopped, Jan(6, 9),
       Jan(6, 10), tsScheduled, "Daily at 10:00:00", true, true},
      {"daily at the exact second", "Daily at 10:00:00", Jan(6, 10), tsTaskComplete, Jan(6, 10), Jan(6, 10),
       tsScheduled, "Daily at 10:00:00", true, true},
      {"daily without a moment", "Daily at 10:00:00", 0, tsTaskComplete, Jan(6, 10, 30), Jan(7), tsScheduled,
       "Daily at 10:00:00", true, true},
      {"weekly to the next chosen day", "Weekly every Mon, Wed at 10:00:00", Jan(6, 10), tsTaskComplete,
       Jan(6, 10, 30), Jan(8, 10), tsScheduled, "Weekly every Mon, Wed at 10:00:00", true, true},
      {"weekly Monday only", "Weekly every Mon at 10:00:00", Jan(6, 10), tsZipped, Jan(6, 10, 30), Jan(13, 10),
       tsScheduled, "Weekly every Mon at 10:00:00", true, true},
      {"weekly two weeks overdue", "Weekly every Mon at 10:00:00", At(2024, 12, 23, 10), tsStopped, Jan(6, 9),
       Jan(6, 10), tsScheduled, "Weekly every Mon at 10:00:00", true, true},
      {"weekly without a weekday is no schedule", "Weekly every  at 10:00:00", Jan(6, 10), tsTaskComplete,
       Jan(6, 10, 30), Jan(6, 10), tsTaskComplete, "Weekly every  at 10:00:00", false, true},
      {"editor once-off stays", "01/06/25 10:00:00", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30), Jan(6, 10),
       tsTaskComplete, "01/06/25 10:00:00", false, true},
      {"no schedule", "", 0, tsStopped, Jan(6, 10, 30), 0, tsStopped, "", false, true},
      {"unknown text", "Sometime", Jan(6, 10), tsTaskComplete, Jan(6, 10, 30), Jan(6, 10), tsTaskComplete,
       "Sometime", false, true},
  };
  for (const auto& c : cases) {
    auto task = NewTask(c.schedule, c.nextRun, c.status);
    const RescheduleResult result = Reschedule(*task, c.now);
    EXPECT_EQ(Text(task->NextRun), Text(c.expectedNext)) << c.name;
    EXPECT_EQ(task->Status, c.expectedStatus) << c.name;
    EXPECT_EQ(task->Schedule, c.expectedSchedule) << c.name;
    EXPECT_EQ(result.Changed, c.changed) << c.name;
    EXPECT_EQ(result.Saved, c.changed) << c.name;
    EXPECT_EQ(result.RefreshScheduler, c.refresh) << c.name;
    ExpectSaved(*task, c.name);
  }
}

TEST_F(TaskScheduleTest, RescheduleSurvivesMomentsThatAreNoMoment) {
  for (TDateTime odd : {kInf, -kInf, std::nan(""), 1e300, -1e300}) {
    for (const char* schedule : {"Daily at 10:00:00", "Weekly every Tue at 10:00:00"}) {
      auto task = NewTask(schedule, 0, tsTaskComplete);
      task->NextRun = odd;
      const RescheduleResult result = Reschedule(*task, Jan(6, 10, 30));
      EXPECT_TRUE(result.Changed) << schedule << " " << odd;
      EXPECT_EQ(Text(task->NextRun), Text(Jan(7))) << schedule << " " << odd;
    }
    auto task = NewTask("Every 1 hours, 0 mins", 0, tsTaskComplete);
    Reschedule(*task, odd);
    EXPECT_TRUE(std::isfinite(task->NextRun)) << odd;
  }
}

TEST_F(TaskScheduleTest, OnceTaskLeavesTheActiveListWithTheStatusItsRunSaved) {
  auto task = NewTask("Once at 01/06/25  10:00:00", Jan(6, 10), tsScheduled);
  ASSERT_TRUE(Listed());
  for (std::int32_t status : {tsStopped, tsZipped, tsTaskComplete}) {
    task->Status = status;
    task->SaveToFile();
    Reschedule(*task, Jan(6, 10, 30));
    EXPECT_FALSE(Listed()) << status;
    EXPECT_EQ(task->Schedule, "Once at 01/06/25  10:00:00");
    EXPECT_EQ(Text(task->NextRun), Text(Jan(6, 10)));
  }
}

TEST_F(TaskScheduleTest, ApplyScheduleMakesTheTaskScheduledAndListed) {
  auto task = NewTask("", 0, tsTaskComplete);
  ASSERT_FALSE(Listed());
  EXPECT_TRUE(ApplySchedule(*task, ScheduleSetting{"Daily at 10:00:00", Jan(7, 10)}));
  EXPECT_EQ(task->Status, tsScheduled);
  EXPECT_EQ(task->Schedule, "Daily at 10:00:00");
  EXPECT_EQ(Text(task->NextRun), Text(Jan(7, 10)));
  ExpectSaved(*task, "apply");
  EXPECT_TRUE(Listed());
}

TEST_F(TaskScheduleTest, UnscheduleClearsEverythingAndDropsTheTask) {
  auto task = NewTask("Every 1 hours, 0 mins", Jan(7, 10), tsScheduled);
  ASSERT_TRUE(Listed());
  EXPECT_TRUE(Unschedule(*task));
  EXPECT_EQ(task->Status, tsUnscheduled);
  EXPECT_EQ(task->Schedule, "");
  EXPECT_EQ(task->NextRun, 0);
  ExpectSaved(*task, "unschedule");
  EXPECT_NE(ReadTextFile(file).find("Next Run=\n"), std::string::npos) << "no moment is an empty value";
}

TEST_F(TaskScheduleTest, SettingWithoutDescriptionUnschedules) {
  auto task = NewTask("Every 1 hours, 0 mins", Jan(7, 10), tsScheduled);
  ApplySchedule(*task, ScheduleSetting{"", Jan(8)});
  EXPECT_EQ(task->Status, tsUnscheduled);
  EXPECT_EQ(task->NextRun, 0);
  EXPECT_FALSE(Listed());
}

// ---- Schedule dialog -------------------------------------------------------

class ScheduleDialogTest : public ::testing::Test {
 protected:
  TDateTime now = Jan(6, 10, 20, 30);
  ScheduleDialogModel dialog{[this] { return now; }};

  void ExpectNext(TDateTime next, const std::string& name) {
    EXPECT_EQ(Text(dialog.NextRun()), Text(next)) << name;
    EXPECT_EQ(dialog.lblNextRun(), " Next Run: " + ScheduleDateText(next) + "  " + ScheduleTimeText(next)) << name;
  }
};

TEST_F(ScheduleDialogTest, LabelsBeforeTheFirstShow) {
  EXPECT_EQ(dialog.lblSchedule(), "Schedule:");
  EXPECT_EQ(dialog.lblNextRun(), "Next Run:");
}

TEST_F(ScheduleDialogTest, ShowStartsOnceOffAtTodayAndNow) {
  dialog.FormShow();
  EXPECT_TRUE(dialog.rbAt());
  EXPECT_EQ(Text(dialog.dtAtDate()), Text(Jan(6)));
  EXPECT_EQ(ScheduleTimeText(dialog.dtAtTime()), "10:20:30");
  EXPECT_EQ(dialog.edHours(), "0");
  EXPECT_EQ(dialog.edMins(), "0");
  EXPECT_EQ(ScheduleTimeText(dialog.dtDailyAt()), "12:00:00");
  EXPECT_EQ(ScheduleTimeText(dialog.dtWeeklyAt()), "12:00:00");
  EXPECT_EQ(dialog.Weekdays(), Days({}));
  EXPECT_EQ(dialog.Description(), "Once at 01/06/25  10:20:30");
  EXPECT_EQ(dialog.lblSchedule(), " Run once at 01/06/25  10:20:30");
  EXPECT_EQ(dialog.lblNextRun(), " Next Run: 01/06/25  10:20:30");
  EXPECT_EQ(Text(dialog.NextRun()), Text(now));
  EXPECT_TRUE(dialog.btnOKClick().Closes);
}

TEST_F(ScheduleDialogTest, ShowForgetsEarlierChoices) {
  dialog.FormShow();
  dialog.SetHours("5");
  dialog.SetWeekday(Fri, true);
  dialog.SetDailyAt(TimeOfDay(7));
  now = Jan(8, 8);
  dialog.FormShow();
  EXPECT_TRUE(dialog.rbAt());
  EXPECT_EQ(dialog.edHours(), "0");
  EXPECT_FALSE(dialog.cbFri());
  EXPECT_EQ(ScheduleTimeText(dialog.dtDailyAt()), "12:00:00");
  EXPECT_EQ(dialog.Description(), "Once at 01/08/25  08:00:00");
}

TEST_F(ScheduleDialogTest, ChangingAControlChecksItsKind) {
  struct Case { const char* name; std::function<void(ScheduleDialogModel&)> change; ScheduleKind kind; } cases[] = {
      {"hours", [](auto& d) { d.SetHours("1"); }, ScheduleKind::Every},
      {"minutes", [](auto& d) { d.SetMins("1"); }, ScheduleKind::Every},
      {"daily time", [](auto& d) { d.SetDailyAt(TimeOfDay(9)); }, ScheduleKind::Daily},
      {"weekly time", [](auto& d) { d.SetWeeklyAt(TimeOfDay(9)); }, ScheduleKind::Weekly},
      {"weekday box", [](auto& d) { d.SetWeekday(Tue, true); }, ScheduleKind::Weekly},
      {"at date", [](auto& d) { d.SetAtDate(Jan(9)); }, ScheduleKind::Once},
      {"at time", [](auto& d) { d.SetAtTime(TimeOfDay(9)); }, ScheduleKind::Once},
      {"radio", [](auto& d) { d.Check(ScheduleKind::Daily); }, ScheduleKind::Daily},
  };
  for (const auto& c : cases) {
    dialog.FormShow();
    if (c.kind == ScheduleKind::Once) dialog.Check(ScheduleKind::Every);
    c.change(dialog);
    EXPECT_EQ(dialog.Checked(), c.kind) << c.name;
  }
}

TEST_F(ScheduleDialogTest, CheckIgnoresKindsWithoutARadioButton) {
  dialog.FormShow();
  dialog.Check(ScheduleKind::Daily);
  for (ScheduleKind k : {ScheduleKind::None, ScheduleKind::Now, ScheduleKind::EditorOnceOff, ScheduleKind::Other})
    dialog.Check(k);
  EXPECT_TRUE(dialog.rbDaily());
}

TEST_F(ScheduleDialogTest, OnceOffTakesTheDateOfOnePickerAndTheTimeOfTheOther) {
  dialog.FormShow();
  dialog.SetAtDate(Jan(9, 23, 0));
  dialog.SetAtTime(Jan(2, 8, 5));
  EXPECT_EQ(dialog.Description(), "Once at 01/09/25  08:05:00");
  EXPECT_EQ(dialog.lblSchedule(), " Run once at 01/09/25  08:05:00");
  ExpectNext(Jan(9, 8, 5), "once");
}

TEST_F(ScheduleDialogTest, EveryCorrectsHoursAndMinutes) {
  struct Case { const char* hours; const char* mins; const char* shownHours; const char* shownMins; } cases[] = {
      {"", "", "0", "0"},       {"30", "75", "23", "59"}, {"24", "60", "23", "59"}, {"23", "59", "23", "59"},
      {"05", "7", "5", "7"},    {" 4 ", "+3", "4", "3"},  {"-2", "-5", "0", "0"},   {"  ", "0", "0", "0"},
      {"99999999999999999999", "1", "23", "1"},
  };
  for (const auto& c : cases) {
    dialog.FormShow();
    EXPECT_EQ(dialog.SetHours(c.hours), "") << c.hours;
    EXPECT_EQ(dialog.SetMins(c.mins), "") << c.mins;
    EXPECT_EQ(dialog.edHours(), c.shownHours) << c.hours;
    EXPECT_EQ(dialog.edMins(), c.shownMins) << c.mins;
    const std::string every = std::string(c.shownHours) + " hours, " + c.shownMins + " mins";
    EXPECT_EQ(dialog.Description(), "Every " + every);
    EXPECT_EQ(dialog.lblSchedule(), " Run every " + every);
    const TDateTime next = now + std::stoi(c.shownHours) / 24.0 + std::stoi(c.shownMins) / 1440.0;
    ExpectNext(next, every);
    EXPECT_EQ(ParseSchedule(dialog.Description()).Hours, std::stoi(c.shownHours));
  }
}

TEST_F(ScheduleDialogTest, EveryCountsFromTheMomentOfTheChange) {
  dialog.FormShow();
  dialog.SetHours("1");
  now = Jan(6, 11);
  dialog.SetMins("30");
  ExpectNext(Jan(6, 12, 30), "later change");
}

TEST_F(ScheduleDialogTest, NoNumberInHoursOrMinutesIsAnErrorAndKeepsTheLabels) {
  for (bool inHours : {true, false}) {
    dialog.FormShow();
    dialog.SetHours("2");
    const std::string schedule = dialog.lblSchedule(), nextLabel = dialog.lblNextRun();
    const TDateTime next = dialog.NextRun();
    now = now + 1;
    const std::string error = inHours ? dialog.SetHours("abc") : dialog.SetMins("abc");
    EXPECT_EQ(error, "'abc' is not a valid integer value");
    EXPECT_EQ(dialog.lblSchedule(), schedule);
    EXPECT_EQ(dialog.lblNextRun(), nextLabel);
    EXPECT_EQ(dialog.NextRun(), next);
    EXPECT_EQ(dialog.Description(), "Every 2 hours, 0 mins");
    const ScheduleOkResult ok = dialog.btnOKClick();
    EXPECT_FALSE(ok.Closes) << "OK would apply an earlier description";
    EXPECT_EQ(ok.Warning, error);
    EXPECT_EQ(inHours ? dialog.SetHours("3") : dialog.SetMins("3"), "");
    EXPECT_TRUE(dialog.btnOKClick().Closes);
    now = now - 1;
  }
}

TEST_F(ScheduleDialogTest, ErrorOfEveryGoesWhenAnotherKindIsChosen) {
  dialog.FormShow();
  dialog.SetHours("x");
  EXPECT_FALSE(dialog.btnOKClick().Closes);
  dialog.Check(ScheduleKind::Daily);
  EXPECT_TRUE(dialog.btnOKClick().Closes);
  EXPECT_EQ(dialog.Description(), "Daily at 12:00:00");
}

TEST_F(ScheduleDialogTest, DailyTimeEqualToNowHasNotPassed) {
  struct Case { TDateTime now; TDateTime expected; } cases[] = {
      {Jan(6, 12), Jan(6, 12)},
      {Jan(6, 12, 0, 1), Jan(7, 12)},
      {Jan(6, 11, 59, 59), Jan(6, 12)},
      {Jan(6), Jan(6, 12)},
      {Jan(31, 23, 59, 59), At(2025, 2, 1, 12)},
  };
  for (const auto& c : cases) {
    now = c.now;
    dialog.FormShow();
    dialog.SetDailyAt(TimeOfDay(12));
    EXPECT_EQ(dialog.Description(), "Daily at 12:00:00");
    EXPECT_EQ(dialog.lblSchedule(), " Run daily at 12:00:00");
    ExpectNext(c.expected, Text(c.now));
  }
}

TEST_F(ScheduleDialogTest, DailyUsesOnlyTheTimeOfThePicker) {
  now = Jan(6, 9);
  dialog.FormShow();
  dialog.SetDailyAt(Jan(2, 10, 15));
  ExpectNext(Jan(6, 10, 15), "picker with a date");
}

TEST_F(ScheduleDialogTest, WeeklyFindsTheFirstChosenDayNotBeforeNow) {
  struct Case { const char* name; TDateTime now; WeekdaySet days; TDateTime expected; const char* list; } cases[] = {
      {"Monday after the time", Jan(6, 13), Days({Mon}), Jan(13, 12), "Mon"},
      {"Monday before the time", Jan(6, 11), Days({Mon}), Jan(6, 12), "Mon"},
      {"Monday at the time", Jan(6, 12), Days({Mon}), Jan(6, 12), "Mon"},
      {"Monday or Wednesday", Jan(6, 13), Days({Mon, Wed}), Jan(8, 12), "Mon, Wed"},
      {"Saturday from Sunday", Jan(5, 8), Days({Sat}), Jan(11, 12), "Sat"},
      {"weekend", Jan(6, 13), Days({Sun, Sat}), Jan(11, 12), "Sat, Sun"},
      {"every day", Jan(6, 13), Days({0, 1, 2, 3, 4, 5, 6}), Jan(7, 12), "Mon, Tue, Wed, Thu, Fri, Sat, Sun"},
  };
  for (const auto& c : cases) {
    now = c.now;
    dialog.FormShow();
    for (int d = 0; d < 7; ++d)
      if (c.days[d]) dialog.SetWeekday(d, true);
    EXPECT_EQ(dialog.Description(), std::string("Weekly every ") + c.list + " at 12:00:00") << c.name;
    EXPECT_EQ(dialog.lblSchedule(), std::string(" Run every ") + c.list + " of every week at 12:00:00") << c.name;
    ExpectNext(c.expected, c.name);
    EXPECT_EQ(ParseSchedule(dialog.Description()).Weekdays, c.days) << c.name;
    EXPECT_TRUE(dialog.btnOKClick().Closes) << c.name;
  }
}

TEST_F(ScheduleDialogTest, WeekdayBoxesHaveTheirOwnNames) {
  dialog.FormShow();
  const std::pair<int, bool (ScheduleDialogModel::*)() const> boxes[] = {
      {Mon, &ScheduleDialogModel::cbMon}, {Tue, &ScheduleDialogModel::cbTue}, {Wed, &ScheduleDialogModel::cbWed},
      {Thu, &ScheduleDialogModel::cbThu}, {Fri, &ScheduleDialogModel::cbFri}, {Sat, &ScheduleDialogModel::cbSat},
      {Sun, &ScheduleDialogModel::cbSun}};
  for (const auto& [day, box] : boxes) {
    dialog.SetWeekday(day, true);
    EXPECT_TRUE((dialog.*box)()) << day;
    dialog.SetWeekday(day, false);
    EXPECT_FALSE((dialog.*box)()) << day;
  }
  dialog.SetWeekday(7, true);
  dialog.SetWeekday(-1, true);
  EXPECT_EQ(dialog.Weekdays(), Days({}));
}

TEST_F(ScheduleDialogTest, WeeklyWithoutWeekdayKeepsTheNextRunAndRefusesOk) {
  HarvixSandbox box;  // the warning comes from the language file
  dialog.FormShow();
  dialog.SetWeekday(Wed, true);
  const TDateTime next = dialog.NextRun();
  const std::string nextLabel = dialog.lblNextRun();
  dialog.SetWeekday(Wed, false);
  EXPECT_EQ(dialog.Description(), "Weekly every  at 12:00:00");
  EXPECT_EQ(dialog.lblSchedule(), " Run every  of every week at 12:00:00");
  EXPECT_EQ(dialog.NextRun(), next);
  EXPECT_EQ(dialog.lblNextRun(), nextLabel);
  const ScheduleOkResult ok = dialog.btnOKClick();
  EXPECT_FALSE(ok.Closes);
  EXPECT_EQ(ok.Warning, LanguageString(746));
  EXPECT_NE(ok.Warning, "undefined language string");
}

TEST_F(TaskScheduleTest, ApplyScheduleTakesTheDialogsResult) {
  TDateTime now = Jan(6, 13);
  ScheduleDialogModel dialog([&] { return now; });
  dialog.FormShow();
  dialog.SetWeekday(Mon, true);
  auto task = NewTask("", 0, tsTaskComplete);
  EXPECT_TRUE(ApplySchedule(*task, dialog));
  EXPECT_EQ(task->Schedule, "Weekly every Mon at 12:00:00");
  EXPECT_EQ(Text(task->NextRun), Text(Jan(13, 12)));
  EXPECT_EQ(task->Status, tsScheduled);
  ExpectSaved(*task, "dialog");
}

// ---- Command line ----------------------------------------------------------

TEST(ScheduleOptions, ValuesBecomeTheDialogsSchedule) {
  const TDateTime now = Jan(6, 10, 20, 30);
  struct Case { std::vector<std::string> options; const char* schedule; TDateTime next; } cases[] = {
      {{"--now"}, "Now", 0},
      {{"--once", "01/09/25 08:05:00"}, "Once at 01/09/25  08:05:00", Jan(9, 8, 5)},
      {{"--once", "1/9/2025 8:05"}, "Once at 01/09/25  08:05:00", Jan(9, 8, 5)},
      {{"--once", "01/02/25 08:00:00"}, "Once at 01/02/25  08:00:00", Jan(2, 8)},
      {{"--every", "6:30"}, "Every 6 hours, 30 mins", Jan(6, 16, 50, 30)},
      {{"--every", "0:0"}, "Every 0 hours, 0 mins", now},
      {{"--every", "23:59"}, "Every 23 hours, 59 mins", Jan(7, 10, 19, 30)},
      {{"--daily", "09:00:00"}, "Daily at 09:00:00", Jan(7, 9)},
      {{"--daily", "10:20:30"}, "Daily at 10:20:30", now},
      {{"--daily", "11:15"}, "Daily at 11:15:00", Jan(6, 11, 15)},
      {{"--weekly", "Mon,Wed", "12:00:00"}, "Weekly every Mon, Wed at 12:00:00", Jan(6, 12)},
      {{"--weekly", "fri, MON", "7:00"}, "Weekly every Mon, Fri at 07:00:00", Jan(10, 7)},
      {{"--weekly", "Sun", "23:59:59"}, "Weekly every Sun at 23:59:59", Jan(12, 23, 59, 59)},
  };
  for (const auto& c : cases) {
    const ScheduleRequest request = ScheduleFromOptions(c.options, now);
    EXPECT_EQ(request.Error, "") << c.schedule;
    EXPECT_FALSE(request.Off) << c.schedule;
    EXPECT_EQ(request.Setting.Schedule, c.schedule);
    EXPECT_EQ(Text(request.Setting.NextRun), Text(c.next)) << c.schedule;
  }
}

TEST(ScheduleOptions, OffAsksForUnschedule) {
  const ScheduleRequest request = ScheduleFromOptions({"--off"}, Jan(6));
  EXPECT_EQ(request.Error, "");
  EXPECT_TRUE(request.Off);
}

TEST(ScheduleOptions, BadValuesGiveAnErrorNamingTheProblem) {
  struct Case { std::vector<std::string> options; const char* mentions; } cases[] = {
      {{}, "--weekly Mon,Wed,... HH:MM:SS"},
      {{"--sometime"}, "unknown schedule option \"--sometime\""},
      {{"now"}, "unknown schedule option"},
      {{"--now", "x"}, "--now"},
      {{"--off", "x"}, "--off"},
      {{"--every"}, "--every H:M"},
      {{"--every", "1:0", "2:0"}, "--every H:M"},
      {{"--every", "30:00"}, "\"30:00\""},
      {{"--every", "1:60"}, "hours 0 to 23 and minutes 0 to 59"},
      {{"--every", "abc"}, "\"abc\""},
      {{"--every", "-1:5"}, "\"-1:5\""},
      {{"--every", "1:"}, "\"1:\""},
      {{"--every", ":5"}, "\":5\""},
      {{"--every", "6"}, "\"6\""},
      {{"--every", "1:2:3"}, "\"1:2:3\""},
      {{"--every", "001:5"}, "\"001:5\""},
      {{"--daily", "25:00:00"}, "--daily: \"25:00:00\" is no time of day"},
      {{"--daily", "noon"}, "\"noon\""},
      {{"--daily", "01/06/25"}, "\"01/06/25\""},
      {{"--daily", ""}, "--daily"},
      {{"--once", "tomorrow"}, "--once: \"tomorrow\" is no date and time"},
      {{"--once", "13/01/25 10:00:00"}, "\"13/01/25 10:00:00\""},
      {{"--weekly", "Mon"}, "--weekly Mon,Wed,... HH:MM:SS"},
      {{"--weekly", "Mon,Xyz", "12:00:00"}, "\"Xyz\" is no weekday"},
      {{"--weekly", "", "12:00:00"}, "\"\" is no weekday"},
      {{"--weekly", "Mon,", "12:00:00"}, "is no weekday"},
      {{"--weekly", "Monday", "12:00:00"}, "\"Monday\""},
      {{"--weekly", "Mon", "noon"}, "--weekly: \"noon\" is no time of day"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& o : c.options) shown += o + " ";
    const ScheduleRequest request = ScheduleFromOptions(c.options, Jan(6));
    EXPECT_NE(request.Error.find(c.mentions), std::string::npos) << shown << "gave: " << request.Error;
  }
}

TEST_F(TaskScheduleTest, RequestsFromOptionsChangeTheTaskOnlyWhenUnderstood) {
  auto task = NewTask("Daily at 10:00:00", Jan(7, 10), tsScheduled);
  EXPECT_FALSE(ApplyScheduleRequest(*task, ScheduleFromOptions({"--every", "x"}, Jan(6))));
  ExpectSaved(*task, "bad request");
  EXPECT_EQ(task->Schedule, "Daily at 10:00:00");

  EXPECT_TRUE(ApplyScheduleRequest(*task, ScheduleFromOptions({"--now"}, Jan(6))));
  EXPECT_EQ(task->Schedule, "Now");
  EXPECT_EQ(task->NextRun, 0) << "a run queued now must not wait for an old moment";
  EXPECT_EQ(task->Status, tsScheduled);
  ExpectSaved(*task, "now");

  EXPECT_TRUE(ApplyScheduleRequest(*task, ScheduleFromOptions({"--every", "1:15"}, Jan(6, 10))));
  EXPECT_EQ(task->Schedule, "Every 1 hours, 15 mins");
  EXPECT_EQ(Text(task->NextRun), Text(Jan(6, 11, 15)));
  ExpectSaved(*task, "every");

  EXPECT_TRUE(ApplyScheduleRequest(*task, ScheduleFromOptions({"--off"}, Jan(6))));
  EXPECT_EQ(task->Status, tsUnscheduled);
  EXPECT_EQ(task->Schedule, "");
  EXPECT_EQ(task->NextRun, 0);
  ExpectSaved(*task, "off");
}

}  // namespace
