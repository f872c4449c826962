#include "schedule/schedule.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "app/language.h"
#include "tasks/thxtask.h"
#include "url/textutil.h"

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
constexpr std::int64_t kMsPerHour = 3'600'000;
constexpr std::int64_t kMsPerMinute = 60'000;
// Beyond the calendar's years 1 to 9999; such a value cannot come from a file.
constexpr double kDayLimit = 3'000'000.0;
constexpr int kWeekdayWarning = 746;

constexpr const char* kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
// Descriptions list the week from Monday.
constexpr int kWeekOrder[7] = {1, 2, 3, 4, 5, 6, 0};
constexpr WeekdaySet kEveryDay = {true, true, true, true, true, true, true};

// Day arithmetic runs on a linear count of milliseconds: before day zero a
// date-time's integral part counts backwards while its fraction still adds
// the time of day, and a day count of doubles gathers rounding noise. A value
// that is no moment at all (not finite, far off) counts as 0, so no loop or
// conversion can run away on it.
std::int64_t ToMs(TDateTime value) {
  if (!std::isfinite(value) || std::fabs(value) > kDayLimit) value = 0;
  const double whole = std::trunc(value);
  return static_cast<std::int64_t>(whole) * kMsPerDay + std::llround(std::fabs(value - whole) * kMsPerDay);
}

std::int64_t DayOf(std::int64_t ms) { return ms / kMsPerDay - (ms % kMsPerDay < 0 ? 1 : 0); }
std::int64_t TimeOfDay(std::int64_t ms) { return ms - DayOf(ms) * kMsPerDay; }
std::int64_t DayStart(std::int64_t ms) { return DayOf(ms) * kMsPerDay; }

TDateTime FromMs(std::int64_t ms) {
  const auto days = static_cast<double>(DayOf(ms));
  const double time = static_cast<double>(TimeOfDay(ms)) / kMsPerDay;
  return days >= 0 ? days + time : days - time;
}

int WeekdayOfDay(std::int64_t day) { return static_cast<int>(((day + 6) % 7 + 7) % 7); }

bool AnyChosen(const WeekdaySet& weekdays) {
  for (bool chosen : weekdays)
    if (chosen) return true;
  return false;
}

std::string DateAndTimeText(TDateTime moment) {
  return ScheduleDateText(moment) + "  " + ScheduleTimeText(moment);
}

// Blanks around, an optional sign, digits. Magnitudes beyond any schedule
// saturate instead of overflowing.
std::optional<long long> ReadWholeNumber(std::string_view raw) {
  std::string text = Trim(raw);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.erase(0, 1);
  }
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = std::min(value * 10 + (c - '0'), 1'000'000'000LL);
  }
  return negative ? -value : value;
}

int Clamp(long long value, int max) { return value < 0 ? 0 : value > max ? max : static_cast<int>(value); }

// The text between the first `open` and the next `close`; empty when either
// is missing.
std::string Between(const std::string& text, std::string_view open, std::string_view close) {
  const auto b = text.find(open);
  if (b == std::string::npos) return {};
  const auto start = b + open.size();
  const auto e = text.find(close, start);
  return e == std::string::npos ? std::string() : text.substr(start, e - start);
}

std::string After(const std::string& text, std::string_view marker, bool last) {
  const auto at = last ? text.rfind(marker) : text.find(marker);
  return at == std::string::npos ? std::string() : text.substr(at + marker.size());
}

std::optional<TDateTime> ParseTimeOfDay(const std::string& text) {
  if (text.find(':') == std::string::npos || text.find('/') != std::string::npos) return std::nullopt;
  return ParseDateTime("12/30/1899 " + text);
}

std::string WeekdaysText(const WeekdaySet& weekdays) {
  std::string days;
  for (int day : kWeekOrder)
    if (weekdays[day]) days += std::string(", ") + kWeekdayNames[day];
  return days.empty() ? days : days.substr(2);
}

std::string EveryText(int hours, int minutes) {
  return "Every " + std::to_string(hours) + " hours, " + std::to_string(minutes) + " mins";
}

}  // namespace

int WeekdayOf(TDateTime moment) { return WeekdayOfDay(DayOf(ToMs(moment))); }

std::string ScheduleDateText(TDateTime moment) {
  const DateTimeParts p = DecodeDateTime(FromMs(ToMs(moment)));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", p.Month, p.Day, p.Year % 100);
  return buf;
}

std::string ScheduleTimeText(TDateTime moment) {
  const DateTimeParts p = DecodeDateTime(FromMs(ToMs(moment)));
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
  return buf;
}

ScheduleKind ScheduleKindOf(const std::string& text) {
  if (text.empty()) return ScheduleKind::None;
  const std::string word = text.substr(0, text.find(' '));
  if (word == "Now") return ScheduleKind::Now;
  if (word == "Once") return ScheduleKind::Once;
  if (word == "Every") return ScheduleKind::Every;
  if (word == "Daily") return ScheduleKind::Daily;
  if (word == "Weekly") return ScheduleKind::Weekly;
  return ParseDateTime(text) ? ScheduleKind::EditorOnceOff : ScheduleKind::Other;
}

ScheduleSpec ParseSchedule(const std::string& text) {
  ScheduleSpec plan;
  plan.Kind = ScheduleKindOf(text);
  switch (plan.Kind) {
    case ScheduleKind::Once:
      plan.At = ParseDateTime(After(text, "Once at ", false)).value_or(0);
      break;
    case ScheduleKind::Every:
      plan.Hours = Clamp(ReadWholeNumber(Between(text, "Every ", " hours")).value_or(0), 23);
      plan.Minutes = Clamp(ReadWholeNumber(Between(text, "hours, ", " mins")).value_or(0), 59);
      break;
    case ScheduleKind::Daily:
      plan.At = ParseTimeOfDay(After(text, "Daily at ", false)).value_or(0);
      break;
    case ScheduleKind::Weekly:
      for (int day = 0; day < 7; ++day) plan.Weekdays[day] = text.find(kWeekdayNames[day]) != std::string::npos;
      plan.At = ParseTimeOfDay(After(text, " at ", true)).value_or(0);
      break;
    case ScheduleKind::EditorOnceOff:
      plan.At = ParseDateTime(text).value_or(0);
      break;
    default:
      break;
  }
  return plan;
}

std::string ScheduleText(const ScheduleSpec& plan) {
  switch (plan.Kind) {
    case ScheduleKind::Now: return "Now";
    case ScheduleKind::Once: return "Once at " + DateAndTimeText(plan.At);
    case ScheduleKind::Every: return EveryText(Clamp(plan.Hours, 23), Clamp(plan.Minutes, 59));
    case ScheduleKind::Daily: return "Daily at " + ScheduleTimeText(plan.At);
    case ScheduleKind::Weekly:
      return "Weekly every " + WeekdaysText(plan.Weekdays) + " at " + ScheduleTimeText(plan.At);
    case ScheduleKind::EditorOnceOff: return ScheduleDateText(plan.At) + " " + ScheduleTimeText(plan.At);
    default: return {};
  }
}

TDateTime NextWeekdayRun(TDateTime from, TDateTime now, const WeekdaySet& weekdays) {
  if (!AnyChosen(weekdays)) return from;
  std::int64_t next = ToMs(from);
  const std::int64_t nowMs = ToMs(now);
  // Whole days at once: a NextRun far back must not cost a step per day.
  if (nowMs > next) next += (nowMs - next + kMsPerDay - 1) / kMsPerDay * kMsPerDay;
  while (!weekdays[WeekdayOfDay(DayOf(next))]) next += kMsPerDay;
  return FromMs(next);
}

// ---- Tasks -----------------------------------------------------------------

namespace {

RescheduleResult SaveRescheduled(THXTask& task) {
  RescheduleResult result;
  result.Changed = true;
  result.Saved = task.SaveToFile();
  result.RefreshScheduler = true;
  return result;
}

}  // namespace

RescheduleResult Reschedule(THXTask& task, TDateTime now) {
  const ScheduleSpec plan = ParseSchedule(task.Schedule);
  switch (plan.Kind) {
    case ScheduleKind::Now:
      // The status is the one the run saved: a run queued "now" is done.
      task.NextRun = 0;
      task.Schedule.clear();
      return SaveRescheduled(task);
    case ScheduleKind::Once:
      return {};
    case ScheduleKind::Every:
      task.NextRun = FromMs(ToMs(now) + plan.Hours * kMsPerHour + plan.Minutes * kMsPerMinute);
      break;
    case ScheduleKind::Daily:
      task.NextRun = NextWeekdayRun(task.NextRun, now, kEveryDay);
      break;
    case ScheduleKind::Weekly:
      // No weekday can ever come: such a text is no schedule at all.
      if (!AnyChosen(plan.Weekdays)) return {false, false, true};
      task.NextRun = NextWeekdayRun(task.NextRun, now, plan.Weekdays);
      break;
    default:
      return {false, false, true};
  }
  task.Status = tsScheduled;
  return SaveRescheduled(task);
}

bool ApplySchedule(THXTask& task, const ScheduleSetting& setting) {
  if (setting.Schedule.empty()) return Unschedule(task);
  task.Status = tsScheduled;
  task.Schedule = setting.Schedule;
  task.NextRun = setting.NextRun;
  return task.SaveToFile();
}

bool ApplySchedule(THXTask& task, const ScheduleDialogModel& dialog) { return ApplySchedule(task, dialog.Result()); }

bool Unschedule(THXTask& task) {
  task.Status = tsUnscheduled;
  task.Schedule.clear();
  task.NextRun = 0;
  return task.SaveToFile();
}

// ---- Schedule dialog -------------------------------------------------------

namespace {

// An edit of the Every kind as the dialog corrects it: empty reads as "0",
// values beyond `max` become `max`; the text is written back as a plain
// number, so the description reads back to the same value. Nothing for a
// text that is no number.
std::optional<int> CorrectEdit(std::string& text, int max) {
  const std::string trimmed = Trim(text);
  const auto value = trimmed.empty() ? std::optional<long long>(0) : ReadWholeNumber(trimmed);
  if (!value) return std::nullopt;
  const int corrected = Clamp(*value, max);
  text = std::to_string(corrected);
  return corrected;
}

std::string ConversionError(const std::string& text) { return "'" + text + "' is not a valid integer value"; }

}  // namespace

ScheduleDialogModel::ScheduleDialogModel(ScheduleClock clock)
    : clock_(clock ? std::move(clock) : ScheduleClock(Now)) {}

void ScheduleDialogModel::FormShow() {
  *this = ScheduleDialogModel(std::move(clock_));
  const std::int64_t now = ToMs(clock_());
  atDate_ = FromMs(DayStart(now));
  atTime_ = FromMs(TimeOfDay(now));
  Recompute();
}

std::string ScheduleDialogModel::Check(ScheduleKind kind) {
  if (kind == ScheduleKind::Once || kind == ScheduleKind::Every || kind == ScheduleKind::Daily ||
      kind == ScheduleKind::Weekly)
    checked_ = kind;
  return Recompute();
}

std::string ScheduleDialogModel::SetAtDate(TDateTime date) {
  atDate_ = date;
  return Check(ScheduleKind::Once);
}

std::string ScheduleDialogModel::SetAtTime(TDateTime time) {
  atTime_ = time;
  return Check(ScheduleKind::Once);
}

std::string ScheduleDialogModel::SetHours(const std::string& text) {
  hours_ = text;
  return Check(ScheduleKind::Every);
}

std::string ScheduleDialogModel::SetMins(const std::string& text) {
  mins_ = text;
  return Check(ScheduleKind::Every);
}

std::string ScheduleDialogModel::SetDailyAt(TDateTime time) {
  dailyAt_ = time;
  return Check(ScheduleKind::Daily);
}

std::string ScheduleDialogModel::SetWeeklyAt(TDateTime time) {
  weeklyAt_ = time;
  return Check(ScheduleKind::Weekly);
}

std::string ScheduleDialogModel::SetWeekday(int weekday, bool ticked) {
  if (weekday >= 0 && weekday < 7) weekdays_[weekday] = ticked;
  return Check(ScheduleKind::Weekly);
}

ScheduleOkResult ScheduleDialogModel::btnOKClick() const {
  // The description would still be that of an earlier, valid choice.
  if (!error_.empty()) return {false, error_};
  if (checked_ == ScheduleKind::Weekly && !AnyChosen(weekdays_)) return {false, LanguageString(kWeekdayWarning)};
  return {true, {}};
}

void ScheduleDialogModel::SetNext(TDateTime next) {
  nextRun_ = next;
  lblNextRun_ = " Next Run: " + DateAndTimeText(next);
}

std::string ScheduleDialogModel::Recompute() {
  const TDateTime now = clock_();
  error_.clear();
  switch (checked_) {
    case ScheduleKind::Once: {
      const TDateTime next = FromMs(DayStart(ToMs(atDate_)) + TimeOfDay(ToMs(atTime_)));
      const std::string at = DateAndTimeText(next);
      description_ = "Once at " + at;
      lblSchedule_ = " Run once at " + at;
      SetNext(next);
      break;
    }
    case ScheduleKind::Every:
      error_ = RecomputeEvery(now);
      break;
    case ScheduleKind::Daily: {
      const TDateTime today = FromMs(DayStart(ToMs(now)) + TimeOfDay(ToMs(dailyAt_)));
      const TDateTime next = NextWeekdayRun(today, now, kEveryDay);
      description_ = "Daily at " + ScheduleTimeText(next);
      lblSchedule_ = " Run daily at " + ScheduleTimeText(next);
      SetNext(next);
      break;
    }
    default:
      RecomputeWeekly(now);
      break;
  }
  return error_;
}

std::string ScheduleDialogModel::RecomputeEvery(TDateTime now) {
  const std::string typedHours = hours_;
  const auto hours = CorrectEdit(hours_, 23);
  if (!hours) return ConversionError(typedHours);
  const std::string typedMins = mins_;
  const auto mins = CorrectEdit(mins_, 59);
  if (!mins) return ConversionError(typedMins);
  description_ = EveryText(*hours, *mins);
  lblSchedule_ = " Run every " + hours_ + " hours, " + mins_ + " mins";
  SetNext(FromMs(ToMs(now) + *hours * kMsPerHour + *mins * kMsPerMinute));
  return {};
}

void ScheduleDialogModel::RecomputeWeekly(TDateTime now) {
  const std::string days = WeekdaysText(weekdays_);
  const std::string at = ScheduleTimeText(weeklyAt_);
  lblSchedule_ = " Run every " + days + " of every week at " + at;
  description_ = "Weekly every " + days + " at " + at;
  if (days.empty()) return;
  const TDateTime today = FromMs(DayStart(ToMs(now)) + TimeOfDay(ToMs(weeklyAt_)));
  SetNext(NextWeekdayRun(today, now, weekdays_));
}

// ---- Command line ----------------------------------------------------------

namespace {

struct OptionForm {
  const char* Name;
  std::size_t Values;
  const char* Usage;
};

constexpr OptionForm kOptionForms[] = {
    {"--now", 0, "--now"},
    {"--once", 1, "--once \"MM/DD/YY HH:MM:SS\""},
    {"--every", 1, "--every H:M"},
    {"--daily", 1, "--daily HH:MM:SS"},
    {"--weekly", 2, "--weekly Mon,Wed,... HH:MM:SS"},
    {"--off", 0, "--off"},
};

ScheduleRequest Failed(std::string error) { return {std::move(error), false, {}}; }

std::string AllForms() {
  std::string text;
  for (const auto& form : kOptionForms) text += std::string(text.empty() ? "" : " | ") + form.Usage;
  return text;
}

std::optional<int> WeekdayNamed(const std::string& name) {
  for (int day = 0; day < 7; ++day)
    if (SameText(name, kWeekdayNames[day])) return day;
  return std::nullopt;
}

// "H:M": digits only, hours 0 to 23, minutes 0 to 59. A command line cannot
// show a corrected value before it acts, so it refuses instead.
std::optional<std::pair<int, int>> ReadEvery(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string h = text.substr(0, colon), m = text.substr(colon + 1);
  const bool digits = !h.empty() && !m.empty() && h.find_first_not_of("0123456789") == std::string::npos &&
                      m.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || h.size() > 2 || m.size() > 2) return std::nullopt;
  const int hours = std::stoi(h), mins = std::stoi(m);
  if (hours > 23 || mins > 59) return std::nullopt;
  return std::make_pair(hours, mins);
}

std::string ReadWeekdays(const std::string& list, ScheduleDialogModel& dialog) {
  // Every name must be a weekday, so an empty list or a stray comma fails too.
  for (std::size_t start = 0; start <= list.size();) {
    const auto comma = std::min(list.find(',', start), list.size());
    const std::string name = Trim(std::string_view(list).substr(start, comma - start));
    const auto day = WeekdayNamed(name);
    if (!day) return "--weekly: \"" + name + "\" is no weekday; use Mon, Tue, Wed, Thu, Fri, Sat or Sun";
    dialog.SetWeekday(*day, true);
    start = comma + 1;
  }
  return {};
}

std::string TimeError(const std::string& option, const std::string& text) {
  return option + ": \"" + text + "\" is no time of day; write it as HH:MM:SS";
}

ScheduleRequest FromDialog(const std::string& option, const std::vector<std::string>& values,
                           ScheduleDialogModel& dialog) {
  if (option == "--once") {
    const auto at = ParseDateTime(values[0]);
    if (!at) return Failed("--once: \"" + values[0] + "\" is no date and time; write it as \"MM/DD/YY HH:MM:SS\"");
    dialog.SetAtDate(*at);
    dialog.SetAtTime(*at);
  } else if (option == "--every") {
    const auto every = ReadEvery(values[0]);
    if (!every)
      return Failed("--every: \"" + values[0] + "\" is not H:M with hours 0 to 23 and minutes 0 to 59");
    dialog.SetHours(std::to_string(every->first));
    dialog.SetMins(std::to_string(every->second));
  } else if (option == "--daily") {
    const auto at = ParseTimeOfDay(values[0]);
    if (!at) return Failed(TimeError(option, values[0]));
    dialog.SetDailyAt(*at);
  } else {
    const auto at = ParseTimeOfDay(values[1]);
    if (!at) return Failed(TimeError(option, values[1]));
    dialog.SetWeeklyAt(*at);
    if (std::string error = ReadWeekdays(values[0], dialog); !error.empty()) return Failed(error);
  }
  return {{}, false, dialog.Result()};
}

}  // namespace

ScheduleRequest ScheduleFromOptions(const std::vector<std::string>& options, TDateTime now) {
  if (options.empty()) return Failed("schedule wants one of: " + AllForms());
  const std::string& option = options[0];
  const std::vector<std::string> values(options.begin() + 1, options.end());
  const OptionForm* form = nullptr;
  for (const auto& f : kOptionForms)
    if (option == f.Name) form = &f;
  if (!form) return Failed("unknown schedule option \"" + option + "\"; use one of: " + AllForms());
  if (values.size() != form->Values) return Failed(std::string("write it as ") + form->Usage);
  if (option == "--off") return {{}, true, {}};
  // A run queued now is due at once, whatever moment an earlier schedule left.
  if (option == "--now") return {{}, false, {"Now", 0}};
  ScheduleDialogModel dialog([now] { return now; });
  dialog.FormShow();
  return FromDialog(option, values, dialog);
}

bool ApplyScheduleRequest(THXTask& task, const ScheduleRequest& request) {
  if (!request.Error.empty()) return false;
  return request.Off ? Unschedule(task) : ApplySchedule(task, request.Setting);
}
