#pragma once
// When a task runs: the schedule kinds and their texts in THXTask::Schedule,
// the next-run computation after each run, and the schedule dialog's
// arithmetic without its window, so the Qt dialog and harvix-cli drive the
// same model. Main thread only, like the tasks it changes. Whatever needs the
// present moment takes it as a parameter (or a clock), defaulting to Now().
#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/hxdatetime.h"

class THXTask;

// Told by the first word of the Schedule text; EditorOnceOff is a text that
// reads as a date and time, Other anything else that is not empty.
enum class ScheduleKind { None, Now, Once, Every, Daily, Weekly, EditorOnceOff, Other };

// Weekdays count from Sunday (0) to Saturday (6).
using WeekdaySet = std::array<bool, 7>;
int WeekdayOf(TDateTime moment);

// Dates in schedule texts are "mm/dd/yy", times of day "hh:mm:ss".
std::string ScheduleDateText(TDateTime moment);
std::string ScheduleTimeText(TDateTime moment);

// What a Schedule text says. Only Hours, Minutes and Weekdays steer a
// computation; At is for display, since the moment itself is NextRun.
struct ScheduleSpec {
  ScheduleKind Kind = ScheduleKind::None;
  // Every: a value that is no number reads as 0, then 0..23 and 0..59.
  int Hours = 0, Minutes = 0;
  // Weekly: a weekday is chosen when its three-letter name occurs in the text.
  WeekdaySet Weekdays{};
  // Once, EditorOnceOff: the moment; Daily, Weekly: the time of day. 0 when
  // the text does not say.
  TDateTime At = 0;
};

ScheduleKind ScheduleKindOf(const std::string& text);
ScheduleSpec ParseSchedule(const std::string& text);
// The text of a plan; Other gives an empty text.
std::string ScheduleText(const ScheduleSpec& plan);

// The next moment of a daily (every weekday chosen) or weekly schedule: from
// `from`, whole days on until it is not earlier than now and falls on a
// chosen weekday. `from` itself when no weekday is chosen.
TDateTime NextWeekdayRun(TDateTime from, TDateTime now, const WeekdaySet& weekdays);

// What the schedule dialog (or a command line) decided.
struct ScheduleSetting {
  std::string Schedule;  // the description
  TDateTime NextRun = 0;
};

struct RescheduleResult {
  bool Changed = false;           // members changed and a save was made
  bool Saved = false;             // that save wrote the task file
  bool RefreshScheduler = false;  // the scheduler window should redraw
};

// Called when a run of the task has ended and its status was saved.
RescheduleResult Reschedule(THXTask& task, TDateTime now = Now());
// Status 1 with the setting's description and next run, saved. A setting
// without a description unschedules, so a task never waits on nothing.
bool ApplySchedule(THXTask& task, const ScheduleSetting& setting);
// Status 0, no description, no next run, saved.
bool Unschedule(THXTask& task);

using ScheduleClock = std::function<TDateTime()>;

struct ScheduleOkResult {
  bool Closes = true;
  std::string Warning;  // shown while the dialog stays open
};

// The schedule dialog ("Schedule Task") without its window. The getters are
// named after the controls; each setter is one control's change: it checks
// that kind's radio button and recomputes the labels, the description and
// the next run, and returns the conversion error the user must see (empty
// when there is none; the labels then keep their previous text).
class ScheduleDialogModel {
 public:
  explicit ScheduleDialogModel(ScheduleClock clock = Now);

  // Back to the defaults, the once-off date and time on today and now.
  void FormShow();
  std::string Check(ScheduleKind kind);  // Once, Every, Daily or Weekly
  std::string SetAtDate(TDateTime date);
  std::string SetAtTime(TDateTime time);
  std::string SetHours(const std::string& text);
  std::string SetMins(const std::string& text);
  std::string SetDailyAt(TDateTime time);
  std::string SetWeeklyAt(TDateTime time);
  std::string SetWeekday(int weekday, bool ticked);
  ScheduleOkResult btnOKClick() const;

  ScheduleKind Checked() const { return checked_; }
  bool rbAt() const { return checked_ == ScheduleKind::Once; }
  bool rbEvery() const { return checked_ == ScheduleKind::Every; }
  bool rbDaily() const { return checked_ == ScheduleKind::Daily; }
  bool rbWeekly() const { return checked_ == ScheduleKind::Weekly; }
  TDateTime dtAtDate() const { return atDate_; }
  TDateTime dtAtTime() const { return atTime_; }
  // After a recomputation: corrected ("" to "0", above 23 to "23", 60 or
  // more to "59") and written as plain numbers.
  const std::string& edHours() const { return hours_; }
  const std::string& edMins() const { return mins_; }
  TDateTime dtDailyAt() const { return dailyAt_; }
  TDateTime dtWeeklyAt() const { return weeklyAt_; }
  bool cbMon() const { return weekdays_[1]; }
  bool cbTue() const { return weekdays_[2]; }
  bool cbWed() const { return weekdays_[3]; }
  bool cbThu() const { return weekdays_[4]; }
  bool cbFri() const { return weekdays_[5]; }
  bool cbSat() const { return weekdays_[6]; }
  bool cbSun() const { return weekdays_[0]; }
  const WeekdaySet& Weekdays() const { return weekdays_; }
  const std::string& lblSchedule() const { return lblSchedule_; }
  const std::string& lblNextRun() const { return lblNextRun_; }

  const std::string& Description() const { return description_; }
  TDateTime NextRun() const { return nextRun_; }
  ScheduleSetting Result() const { return {description_, nextRun_}; }

 private:
  std::string Recompute();
  std::string RecomputeEvery(TDateTime now);
  void RecomputeWeekly(TDateTime now);
  void SetNext(TDateTime next);

  ScheduleClock clock_;
  ScheduleKind checked_ = ScheduleKind::Once;
  TDateTime atDate_ = 0, atTime_ = 0;
  std::string hours_ = "0", mins_ = "0";
  TDateTime dailyAt_ = 0.5, weeklyAt_ = 0.5;
  WeekdaySet weekdays_{};
  std::string lblSchedule_ = "Schedule:", lblNextRun_ = "Next Run:";
  std::string description_;
  TDateTime nextRun_ = 0;
  std::string error_;  // of the checked kind's last recomputation
};

// ScheduleDialogModel + ApplySchedule for the dialog's OK.
bool ApplySchedule(THXTask& task, const ScheduleDialogModel& dialog);

// The option values of `harvix-cli schedule TASK ...`, the words after TASK:
// --now | --once "MM/DD/YY HH:MM:SS" | --every H:M | --daily HH:MM:SS |
// --weekly Mon,Wed,... HH:MM:SS | --off. Error is empty when they were
// understood; Off asks for Unschedule, otherwise Setting is to be applied.
struct ScheduleRequest {
  std::string Error;
  bool Off = false;
  ScheduleSetting Setting;
};
ScheduleRequest ScheduleFromOptions(const std::vector<std::string>& options, TDateTime now = Now());
// Unschedule or ApplySchedule; false for a request with an error (the task is
// left alone) or a failed save.
bool ApplyScheduleRequest(THXTask& task, const ScheduleRequest& request);
