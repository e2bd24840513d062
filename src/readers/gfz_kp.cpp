#include "readers/gfz_kp.hpp"

#include <array>
#include <optional>
#include <string>

#include "readers/fixed_columns.hpp"
#include "readers/gfz_fields.hpp"

namespace sunindex {
namespace {

using fixed_columns::DataLine;
using gfz::FieldFault;

// Published lines are 158 bytes and a LF (the publisher's note says 156,
// but the flag D takes the last two columns). Fields from byte 0:
constexpr std::size_t line_length = 158;
constexpr std::size_t days_first = 10, days_width = 6;            // days since 1932-01-01
constexpr std::size_t mid_day_first = 16, mid_day_width = 8;      // days to the day's middle
constexpr std::size_t rotation_first = 24, rotation_width = 5;    // Bartels rotation
constexpr std::size_t rotation_day_first = 29, rotation_day_width = 3;
constexpr std::size_t kp_first = 32, kp_width = 7;                // Kp1..Kp8
constexpr std::size_t ap_first = 88, ap_width = 5;                // ap1..ap8
constexpr std::size_t ap_daily_first = 128, ap_daily_width = 6;
constexpr std::size_t sn_first = 134, sn_width = 4;
constexpr std::size_t f107_obs_first = 138, f107_adj_first = 147, f107_width = 9;
constexpr std::size_t definitive_first = 156, definitive_width = 2;

// The columns' names as the file's header line writes them.
constexpr std::array<const char*, 8> kp_labels{"Kp1", "Kp2", "Kp3", "Kp4", "Kp5", "Kp6", "Kp7", "Kp8"};
constexpr std::array<const char*, 8> ap_labels{"ap1", "ap2", "ap3", "ap4", "ap5", "ap6", "ap7", "ap8"};

constexpr double largest_kp = 9.0;
constexpr std::int32_t largest_ap = 400;  // ap of Kp 9, and so the largest daily mean
constexpr std::int32_t largest_sn = 9999;  // what the column writes
constexpr double largest_f107 = 999999.9;  // likewise

/// Day 1 of Bartels rotation 1, from which rotations of 27 days are counted.
constexpr CivilDate first_bartels_day{1832, 2, 8};

/// What is wrong with the counts the line writes beside its date (days since
/// 1932, days to mid-day, Bartels rotation and day in it); nullptr when they
/// agree with the date. They cost a comparison each, and a line whose
/// columns are shifted or mixed up fails them.
const char* count_fault(const DataLine& line, const CivilDate& date) noexcept {
  const std::int64_t days = gfz::days_since_1932(date);
  std::int32_t written = 0;
  if (!fixed_columns::int_column(line, days_first, days_width, written)) return "days";
  if (written != days) return "days not the date's count since 1932";
  double mid_day = 0.0;
  if (!fixed_columns::float_column(line, mid_day_first, mid_day_width, mid_day)) return "days_m";
  if (mid_day != static_cast<double>(days) + 0.5) return "days_m not days + 0.5";
  const std::int64_t since_first = date.to_days() - first_bartels_day.to_days();
  const std::int64_t rotation = (since_first >= 0 ? since_first : since_first - 26) / 27;  // floored
  std::int32_t bsr = 0, day_in_rotation = 0;
  if (!fixed_columns::int_column(line, rotation_first, rotation_width, bsr)) return "Bsr";
  if (bsr != rotation + 1) return "Bsr not the date's Bartels rotation";
  if (!fixed_columns::int_column(line, rotation_day_first, rotation_day_width, day_in_rotation)) return "dB";
  if (day_in_rotation != since_first - 27 * rotation + 1) return "dB not the date's day in its Bartels rotation";
  return nullptr;
}

/// Reads the values of a line into `day`, or says what is wrong with the
/// first that fails.
std::optional<std::string> read_values(const DataLine& line, GfzDay& day) {
  for (std::size_t slot = 0; slot < day.kp.size(); ++slot) {
    const FieldFault fault = gfz::read_thirds(line, kp_first + kp_width * slot, kp_width, largest_kp, day.kp[slot]);
    if (fault != FieldFault::none) return gfz::fault_message(kp_labels[slot], fault);
  }
  for (std::size_t slot = 0; slot < day.ap.size(); ++slot) {
    const FieldFault fault = gfz::read_count(line, ap_first + ap_width * slot, ap_width, largest_ap, day.ap[slot]);
    if (fault != FieldFault::none) return gfz::fault_message(ap_labels[slot], fault);
  }
  FieldFault fault = gfz::read_count(line, ap_daily_first, ap_daily_width, largest_ap, day.ap_daily);
  if (fault != FieldFault::none) return gfz::fault_message("Ap", fault);
  fault = gfz::read_count(line, sn_first, sn_width, largest_sn, day.sn);
  if (fault != FieldFault::none) return gfz::fault_message("SN", fault);
  fault = gfz::read_amount(line, f107_obs_first, f107_width, largest_f107, day.f107_obs);
  if (fault != FieldFault::none) return gfz::fault_message("F10.7obs", fault);
  fault = gfz::read_amount(line, f107_adj_first, f107_width, largest_f107, day.f107_adj);
  if (fault != FieldFault::none) return gfz::fault_message("F10.7adj", fault);
  std::int32_t definitive = 0;
  if (!fixed_columns::int_column(line, definitive_first, definitive_width, definitive)) return "D";
  if (definitive < 0 || definitive > 2) return "D not 0, 1 or 2";
  day.definitive = static_cast<std::uint8_t>(definitive);
  return std::nullopt;
}

}  // namespace

Result<std::vector<GfzDay>> parse_gfz_kp(std::string_view content, const ReadOptions& options) {
  constexpr fixed_columns::HeadedLayout layout{
      line_length, "date not after the line before",
      [](const DataLine& line, GfzDay& day) { return fixed_columns::read_calendar_date(line, gfz::date_columns, day.date); },
      [](const GfzDay& before, const GfzDay& after) { return before.date < after.date; },
      [](const DataLine& line, GfzDay& day) -> std::optional<std::string> {
        if (const char* fault = count_fault(line, day.date)) return fault;
        return read_values(line, day);
      }};
  return fixed_columns::read_headed_records<GfzDay>(content, options, layout);
}

}  // namespace sunindex
