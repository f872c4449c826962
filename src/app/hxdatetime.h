#pragma once
// Date-times are day counts since 30 December 1899 held in doubles; the
// fraction is the time of day and a span uses the same unit. Every text the
// program writes or parses uses month/day/year order with "/" and ":",
// whatever the user's locale says.
#include <cstdint>
#include <optional>
#include <string>

using TDateTime = double;

struct DateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

// Fails for an impossible calendar date or clock time.
std::optional<TDateTime> EncodeDateTime(const DateTimeParts& parts);
DateTimeParts DecodeDateTime(TDateTime value);
TDateTime Now();

// "mm/dd/yyyy hh:mm:ss", as task files keep their times.
std::string FormatTaskDateTime(TDateTime value);

// Month first, then day, then year (two-digit years fall within 50 years of
// today); an optional time of "h:mm" or "h:mm:ss" after a space, with an
// optional AM/PM. Surrounding blanks are ignored; anything else fails.
std::optional<TDateTime> ParseDateTime(const std::string& text);
