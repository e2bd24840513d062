#include "timeline/iso_epoch.hpp"

#include <algorithm>
#include <array>
#include <cstddef>

#include "store/civil_date.hpp"

namespace sunindex::timeline {
namespace {

constexpr std::int64_t microseconds_per_day = 86'400'000'000;
constexpr std::size_t microsecond_digits = 6;
constexpr std::size_t nanosecond_digits = 9;
constexpr std::array<std::int64_t, nanosecond_digits + 1> powers_of_ten{
    1, 10, 100, 1'000, 10'000, 100'000, 1'000'000, 10'000'000, 100'000'000, 1'000'000'000};

/// The text as datetime reads it: a C string, so a position at or past the
/// end holds NUL, and some checks stop at an embedded NUL as at the end.
class Text {
 public:
  explicit Text(std::string_view bytes) noexcept : bytes_(bytes) {}

  std::size_t size() const noexcept { return bytes_.size(); }
  char operator[](std::size_t i) const noexcept { return i < bytes_.size() ? bytes_[i] : '\0'; }
  bool is_digit(std::size_t i) const noexcept { return static_cast<unsigned>((*this)[i] - '0') < 10; }

  /// The number the `count` ASCII digits from `i` write; none unless all are digits.
  std::optional<int> digits(std::size_t i, std::size_t count) const noexcept {
    int value = 0;
    for (std::size_t end = i + count; i != end; ++i) {
      if (!is_digit(i)) return std::nullopt;
      value = value * 10 + ((*this)[i] - '0');
    }
    return value;
  }

 private:
  std::string_view bytes_;
};

/// Where the date ends and the separator stands: 7, 8 or 10 by the date's
/// form, a week date's digits deciding between YYYYWwwD and YYYYWww; none for
/// "YYYY-Www-", which no time can follow. Assumes at least 7 bytes.
std::optional<std::size_t> separator_position(const Text& text) noexcept {
  const std::size_t size = text.size();
  if (size == 7) return 7;
  if (text[4] == '-') {
    if (text[5] != 'W') return 10;  // YYYY-MM-DD
    if (size <= 8 || text[8] != '-') return 8;
    if (size == 9) return std::nullopt;
    // YYYY-Www-D, or YYYY-Www and a time behind a '-' separator.
    return size > 10 && text.is_digit(10) ? 8 : 10;
  }
  if (text[4] != 'W') return 8;  // YYYYMMDD
  std::size_t end = 7;
  while (end < size && text.is_digit(end)) ++end;
  if (end < 9) return end;
  return end % 2 == 0 ? 7 : 8;  // YYYYWww and an hhmm... time, or YYYYWwwD and one
}

/// The date of ISO week `week`, day `weekday` (1 is Monday) of `year`; none
/// outside datetime's years 1 to 9999 or for a week or day the year lacks.
std::optional<CivilDate> iso_week_date(int year, int week, int weekday) noexcept {
  if (year < 1 || weekday < 1 || weekday > 7) return std::nullopt;
  const std::int64_t new_year = CivilDate{year, 1, 1}.to_days();
  const std::int64_t new_year_weekday = (new_year % 7 + 7 + 3) % 7;  // Monday is 0; 1970-01-01 a Thursday
  const bool long_year = new_year_weekday == 3 || (new_year_weekday == 2 && CivilDate::is_leap_year(year));
  if (week < 1 || week > (long_year ? 53 : 52)) return std::nullopt;
  // Week 1 holds 4 January: its Monday is at most three days before 1 January.
  const std::int64_t first_monday = new_year - new_year_weekday + (new_year_weekday > 3 ? 7 : 0);
  const CivilDate date = CivilDate::from_days(first_monday + (week - 1) * 7 + (weekday - 1));
  if (date.year < 1 || date.year > 9999) return std::nullopt;
  return date;
}

/// The date in the first `length` bytes, its separators used throughout or
/// not at all; none when it is no calendar day of the years 1 to 9999.
std::optional<CivilDate> parse_date(const Text& text, std::size_t length) noexcept {
  const auto year = text.digits(0, 4);
  if (!year) return std::nullopt;
  std::size_t p = 4;
  const bool dashes = text[p] == '-';
  p += dashes;
  if (text[p] == 'W') {
    const auto week = text.digits(p + 1, 2);
    if (!week) return std::nullopt;
    p += 3;
    std::optional<int> weekday = 1;  // Www alone is the week's Monday
    if (p < length) {
      if (dashes && text[p++] != '-') return std::nullopt;
      weekday = text.digits(p, 1);
    }
    return weekday ? iso_week_date(*year, *week, *weekday) : std::nullopt;
  }
  const auto month = text.digits(p, 2);
  if (!month) return std::nullopt;
  p += 2;
  if (dashes && text[p++] != '-') return std::nullopt;
  const auto day = text.digits(p, 2);
  if (!day) return std::nullopt;
  const CivilDate date{*year, static_cast<std::uint8_t>(*month), static_cast<std::uint8_t>(*day)};
  if (*year < 1 || !date.is_calendar_day()) return std::nullopt;
  return date;
}

/// Hours, minutes, seconds and a fraction read from text.
struct Clock {
  enum class Status {
    ended,      // the text ended (or reached a NUL) right after it
    continued,  // something follows it
    invalid,    // not such a time
  };
  int hour = 0, minute = 0, second = 0;
  std::int64_t nanosecond = 0;  // the fraction's first nine digits
  std::size_t fraction_digits = 0;
  Status status = Status::invalid;
};

/// hh[:mm[:ss]] or hh[mm[ss]] from `p`, each field's separator as the first
/// one, then a fraction after '.' or ',' (or straight after hhmmss), up to
/// `end`: where an offset begins, or the end of the text. A minute or second
/// may carry the fraction too, and a colon may stand for the fraction's
/// point after the seconds, as datetime reads them.
Clock read_clock(const Text& text, std::size_t p, std::size_t end) noexcept {
  Clock clock;
  const std::array<int*, 3> fields{&clock.hour, &clock.minute, &clock.second};
  bool colons = true;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const auto value = text.digits(p, 2);
    if (!value) return clock;
    *fields[i] = *value;
    p += 2;
    const char next = text[p++];
    if (i == 0) colons = next == ':';
    if (p >= end) {
      clock.status = next == '\0' ? Clock::Status::ended : Clock::Status::continued;
      return clock;
    }
    if (colons && next == ':') continue;
    if (next == '.' || next == ',') break;
    if (colons) return clock;
    --p;  // the next field follows with no separator
  }
  // At least the digits up to `end`, six at most, must follow; more are the
  // fraction's too, however far they run.
  std::size_t digits = 0;
  while (text.is_digit(p + digits)) ++digits;
  if (digits < std::min(end - p, microsecond_digits)) return clock;
  const std::size_t kept = std::min(digits, nanosecond_digits);
  for (std::size_t i = 0; i < kept; ++i) clock.nanosecond = clock.nanosecond * 10 + (text[p + i] - '0');
  clock.nanosecond *= powers_of_ten[nanosecond_digits - kept];
  clock.fraction_digits = digits;
  clock.status = text[p + digits] == '\0' ? Clock::Status::ended : Clock::Status::continued;
  return clock;
}

/// The UTC offset in microseconds that the text from `sign` (a '+' or '-')
/// writes, cut to the microsecond as datetime keeps it; none unless it is a
/// clock that ends the text and lies strictly within a day.
std::optional<std::int64_t> read_offset(const Text& text, std::size_t sign) noexcept {
  const Clock clock = read_clock(text, sign + 1, text.size());
  if (clock.status != Clock::Status::ended) return std::nullopt;
  // Fields are not limited to a clock's range: datetime takes +05:99 as 06:39.
  const std::int64_t offset = (std::int64_t{clock.hour} * 3600 + clock.minute * 60 + clock.second) * 1'000'000 +
                              clock.nanosecond / 1000;
  if (offset >= microseconds_per_day) return std::nullopt;
  return text[sign] == '-' ? -offset : offset;
}

/// The local time from `p` and its UTC offset in microseconds, from the first
/// 'Z', '+' or '-' on.
struct Time {
  Clock clock;
  std::int64_t offset = 0;
};

Result<Time, IsoEpochError> parse_time(const Text& text, std::size_t p) noexcept {
  if (p >= text.size()) return IsoEpochError::not_iso_8601;
  std::size_t zone = p;
  while (zone < text.size() && text[zone] != 'Z' && text[zone] != '+' && text[zone] != '-') ++zone;
  Time time{read_clock(text, p, zone)};
  const Clock::Status status = time.clock.status;
  if (status == Clock::Status::invalid || (zone == text.size() && status != Clock::Status::ended)) {
    return IsoEpochError::not_iso_8601;
  }
  if (time.clock.fraction_digits > nanosecond_digits) return IsoEpochError::too_many_digits;
  if (time.clock.hour > 23 || time.clock.minute > 59 || time.clock.second > 59) return IsoEpochError::not_iso_8601;
  if (zone == text.size()) return time;
  if (text[zone] == 'Z') {  // datetime ends the text at a NUL here
    if (text[zone + 1] != '\0') return IsoEpochError::not_iso_8601;
    return time;
  }
  const auto offset = read_offset(text, zone);
  if (!offset) return IsoEpochError::not_iso_8601;
  time.offset = *offset;
  return time;
}

/// The bytes the character at `p` takes in UTF-8, from its first byte.
std::size_t character_length(char first) noexcept {
  const auto byte = static_cast<unsigned char>(first);
  if (byte < 0x80) return 1;
  if (byte >= 0xf0) return 4;
  return byte >= 0xe0 ? 3 : 2;
}

}  // namespace

Result<IsoEpoch, IsoEpochError> parse_iso_epoch(std::string_view bytes) noexcept {
  if (bytes == "NaT") return IsoEpoch{not_a_time, false};
  const Text text(bytes);
  if (text.size() < 7) return IsoEpochError::not_iso_8601;
  const auto separator = separator_position(text);
  if (!separator) return IsoEpochError::not_iso_8601;
  const auto date = parse_date(text, *separator);
  if (!date) return IsoEpochError::not_iso_8601;
  if (*separator >= text.size()) return IsoEpoch{date->utc_microseconds(0, 0, 0), false};
  auto time = parse_time(text, *separator + character_length(text[*separator]));
  if (!time.ok()) return time.error();
  const Clock& clock = time.value().clock;
  const std::int64_t microseconds =
      date->utc_microseconds(clock.hour, clock.minute, clock.second, clock.nanosecond / 1000) - time.value().offset;
  if (clock.fraction_digits <= microsecond_digits) return IsoEpoch{microseconds, false};
  // Wider than int64: near its minimum the microsecond alone lies past it, its nanoseconds not.
  const __int128 nanoseconds = static_cast<__int128>(microseconds) * 1000 + clock.nanosecond % 1000;
  if (nanoseconds <= not_a_time || nanoseconds > std::numeric_limits<std::int64_t>::max()) {
    return IsoEpochError::beyond_nanoseconds;
  }
  return IsoEpoch{static_cast<std::int64_t>(nanoseconds), true};
}

}  // namespace sunindex::timeline
