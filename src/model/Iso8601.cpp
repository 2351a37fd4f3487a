#include "model/Iso8601.h"

#include <cstdio>

namespace brisklet {
namespace {

using namespace std::chrono;

// Reads exactly `digits` decimal digits at `position`.
std::optional<int> number(std::string_view text, size_t position, size_t digits) {
  if (position + digits > text.size()) return std::nullopt;
  int value = 0;
  for (size_t i = position; i < position + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

bool hasAt(std::string_view text, size_t position, char expected) {
  return position < text.size() && text[position] == expected;
}

}  // namespace

std::string formatIso8601(Timestamp instant) {
  const sys_seconds wholeSeconds = floor<seconds>(instant);
  const sys_days day = floor<days>(wholeSeconds);
  const year_month_day date(day);
  const hh_mm_ss<seconds> time(wholeSeconds - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()));
  return text;
}

std::optional<Timestamp> parseIso8601(std::string_view text) {
  const auto yearValue = number(text, 0, 4), monthValue = number(text, 5, 2),
             dayValue = number(text, 8, 2), hourValue = number(text, 11, 2),
             minuteValue = number(text, 14, 2), secondValue = number(text, 17, 2);
  if (!yearValue || !monthValue || !dayValue || !hourValue || !minuteValue || !secondValue ||
      !hasAt(text, 4, '-') || !hasAt(text, 7, '-') || !hasAt(text, 10, 'T') ||
      !hasAt(text, 13, ':') || !hasAt(text, 16, ':'))
    return std::nullopt;
  const year_month_day date{year(*yearValue), month(static_cast<unsigned>(*monthValue)),
                            day(static_cast<unsigned>(*dayValue))};
  if (!date.ok() || *hourValue > 23 || *minuteValue > 59 || *secondValue > 60) return std::nullopt;

  size_t position = 19;
  milliseconds fraction{0};
  if (hasAt(text, position, '.')) {
    ++position;
    const size_t firstDigit = position;
    int scale = 100;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
      fraction += milliseconds((text[position] - '0') * scale);
      scale /= 10;
      ++position;
    }
    if (position == firstDigit) return std::nullopt;
  }

  minutes offset{0};
  if (hasAt(text, position, 'Z')) {
    ++position;
  } else if (hasAt(text, position, '+') || hasAt(text, position, '-')) {
    const int sign = text[position] == '-' ? -1 : 1;
    const auto offsetHours = number(text, position + 1, 2);
    const auto offsetMinutes = number(text, position + 4, 2);
    if (!offsetHours || !hasAt(text, position + 3, ':') || !offsetMinutes) return std::nullopt;
    offset = minutes(sign * (*offsetHours * 60 + *offsetMinutes));
    position += 6;
  } else {
    return std::nullopt;
  }
  if (position != text.size()) return std::nullopt;

  return sys_days(date) + hours(*hourValue) + minutes(*minuteValue) + seconds(*secondValue) +
         fraction - offset;
}

}  // namespace brisklet
