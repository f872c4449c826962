#include "app/hxdatetime.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr std::int64_t kMsPerDay = 86'400'000;
// Days from 1970-01-01 to 1899-12-30 counted backwards.
constexpr std::int64_t kEpochOffsetDays = 25569;

// Howard Hinnant's days-from-civil: exact for the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Splits "12/17/1999" at the separator into numbers; fails on anything but digits.
bool SplitNumbers(const std::string& text, char sep, std::vector<int>& out) {
  out.clear();
  std::string cur;
  auto flush = [&]() {
    if (cur.empty() || cur.size() > 9) return false;
    out.push_back(std::stoi(cur));
    cur.clear();
    return true;
  };
  for (char c : text) {
    if (c == sep) {
      if (!flush()) return false;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      cur += c;
    } else {
      return false;
    }
  }
  return flush();
}

int CurrentYear() { return DecodeDateTime(Now()).Year; }

int ExpandYear(int year, std::size_t digits) {
  if (digits > 2) return year;
  const int now = CurrentYear();
  int full = now - now % 100 + year;
  if (full > now + 50) full -= 100;
  if (full <= now - 50) full += 100;
  return full;
}

}  // namespace

std::optional<TDateTime> EncodeDateTime(const DateTimeParts& p) {
  if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
      p.Day > DaysInMonth(p.Year, p.Month))
    return std::nullopt;
  if (p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 || p.Second < 0 ||
      p.Second > 59 || p.MilliSecond < 0 || p.MilliSecond > 999)
    return std::nullopt;
  const double days =
      static_cast<double>(DaysFromCivil(p.Year, p.Month, p.Day) + kEpochOffsetDays);
  const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.MilliSecond;
  // Before day zero the integral part counts backwards while the fraction
  // still adds the time of day.
  return days >= 0 ? days + ms / kMsPerDay : days - ms / kMsPerDay;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  DateTimeParts p;
  if (!std::isfinite(value) || std::fabs(value) > 3'000'000.0) return p;
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  auto ms = static_cast<std::int64_t>(std::llround(frac * kMsPerDay));
  if (ms >= kMsPerDay) {
    ms -= kMsPerDay;
    whole += value >= 0 ? 1 : -1;
  }
  CivilFromDays(static_cast<std::int64_t>(whole) - kEpochOffsetDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3'600'000);
  p.Minute = static_cast<int>(ms / 60'000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.MilliSecond = static_cast<int>(ms % 1000);
  return p;
}

TDateTime Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  DateTimeParts p;
  p.Year = local.tm_year + 1900;
  p.Month = local.tm_mon + 1;
  p.Day = local.tm_mday;
  p.Hour = local.tm_hour;
  p.Minute = local.tm_min;
  p.Second = std::min(local.tm_sec, 59);
  p.MilliSecond = static_cast<int>(
      duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  return EncodeDateTime(p).value_or(0.0);
}

std::string FormatTaskDateTime(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", p.Month, p.Day, p.Year,
                p.Hour, p.Minute, p.Second);
  return buf;
}

std::optional<TDateTime> ParseDateTime(const std::string& raw) {
  std::size_t b = raw.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  std::string text = raw.substr(b, raw.find_last_not_of(" \t") - b + 1);

  std::string datePart = text, timePart;
  if (const auto sp = text.find(' '); sp != std::string::npos) {
    datePart = text.substr(0, sp);
    timePart = text.substr(text.find_first_not_of(' ', sp));
  }
  std::vector<int> d;
  if (!SplitNumbers(datePart, '/', d) || d.size() < 2 || d.size() > 3) return std::nullopt;
  DateTimeParts p;
  p.Month = d[0];
  p.Day = d[1];
  if (d.size() == 3) {
    const std::size_t yearDigits = datePart.size() - datePart.rfind('/') - 1;
    p.Year = ExpandYear(d[2], yearDigits);
  } else {
    p.Year = CurrentYear();
  }

  if (!timePart.empty()) {
    int pm = -1;
    auto upper = [](std::string s) {
      for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return s;
    };
    const std::string up = upper(timePart);
    for (const char* mark : {"AM", "PM"}) {
      if (up.size() >= 2 && up.compare(up.size() - 2, 2, mark) == 0) {
        pm = mark[0] == 'P';
        timePart = timePart.substr(0, timePart.size() - 2);
        while (!timePart.empty() && timePart.back() == ' ') timePart.pop_back();
      }
    }
    std::string ms;
    if (const auto dot = timePart.find('.'); dot != std::string::npos) {
      ms = timePart.substr(dot + 1);
      timePart.resize(dot);
    }
    std::vector<int> t;
    if (!SplitNumbers(timePart, ':', t) || t.size() < 2 || t.size() > 3) return std::nullopt;
    p.Hour = t[0];
    p.Minute = t[1];
    p.Second = t.size() == 3 ? t[2] : 0;
    if (!ms.empty()) {
      std::vector<int> m;
      if (!SplitNumbers(ms, '.', m) || m.size() != 1 || ms.size() > 3) return std::nullopt;
      p.MilliSecond = m[0] * (ms.size() == 1 ? 100 : ms.size() == 2 ? 10 : 1);
    }
    if (pm >= 0) {
      if (p.Hour < 1 || p.Hour > 12) return std::nullopt;
      p.Hour = p.Hour % 12 + (pm ? 12 : 0);
    }
  }
  return EncodeDateTime(p);
}
