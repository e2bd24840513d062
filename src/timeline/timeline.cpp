#include "timeline/timeline.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "readers/concurrently.hpp"
#include "readers/dtcfile.hpp"
#include "readers/solfsmy.hpp"

namespace sunindex::timeline {
namespace {

constexpr double absent = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<char, 4> no_flags{' ', ' ', ' ', ' '};

/// Whether a column's key is a CSV header name in lower case without its dots
/// ("F10.7_OBS_CENTER81" and f107_obs_center81).
constexpr bool key_of_header(std::string_view key, std::string_view header_name) noexcept {
  std::size_t k = 0;
  for (const char c : header_name) {
    if (c == '.') continue;
    const char lower = 'A' <= c && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    if (k == key.size() || key[k++] != lower) return false;
  }
  return k == key.size();
}

/// Where each optional CSV column goes, by CelestrakExtra: the column its
/// header name is the key of, or Column::count for none.
constexpr auto extra_columns = [] {
  std::array<Column, static_cast<std::size_t>(CelestrakExtra::count)> columns{};
  for (std::size_t e = 0; e < columns.size(); ++e) {
    columns[e] = Column::count;
    for (std::size_t c = 0; c < column_count; ++c) {
      if (key_of_header(column_keys[c], celestrak_extra_names[e])) columns[e] = static_cast<Column>(c);
    }
  }
  return columns;
}();
static_assert(std::ranges::none_of(extra_columns, [](Column c) { return c == Column::count; }),
              "every optional CSV column needs a timeline column of its name");

/// What the readers gave for each file, with each record's day number.
struct ParsedFiles {
  std::vector<DailyIndices> csv, solfsmy, dtcfile;
  std::vector<CelestrakRowExtras> csv_extras;
  std::vector<SolfsmyRowExtras> solfsmy_extras;
  std::vector<HourlyDtc> dtc_hourly;
};

/// Runs `read` over `text` when it is given, into `records`; the error
/// names `source` on failure.
template <class Read>
std::optional<LoadError> read_source(const std::optional<std::string_view>& text, Source source, Read read,
                                     std::vector<DailyIndices>& records) {
  if (!text) return std::nullopt;
  auto result = read(*text);
  if (!result.ok()) return LoadError{source, result.error().text()};
  records = std::move(result.value());
  return std::nullopt;
}

/// Every file given, read with its extras, or the first failure in the order
/// CSV, SOLFSMY, DTCFILE. The CSV is read beside the other two.
std::optional<LoadError> read_all(const SourceTexts& texts, ParsedFiles& files) {
  std::optional<LoadError> csv_error, fixed_columns_error;
  run_concurrently(
      [&] {
        csv_error = read_source(
            texts.csv, Source::csv, [&](std::string_view t) { return parse_celestrak_csv(t, files.csv_extras); },
            files.csv);
      },
      [&] {
        fixed_columns_error = read_source(
            texts.solfsmy, Source::solfsmy,
            [&](std::string_view t) { return parse_solfsmy(t, files.solfsmy_extras); }, files.solfsmy);
        if (fixed_columns_error) return;
        fixed_columns_error = read_source(
            texts.dtcfile, Source::dtcfile, [&](std::string_view t) { return parse_dtcfile(t, files.dtc_hourly); },
            files.dtcfile);
      });
  return csv_error ? csv_error : fixed_columns_error;
}

/// The first and last day of `records`, or none when there are none.
std::optional<DaySpan> span_of(const std::vector<DailyIndices>& records) {
  if (records.empty()) return std::nullopt;
  DaySpan span{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()};
  for (const auto& record : records) {
    const std::int64_t day = record.date.to_days();
    span.first = std::min(span.first, day);
    span.last = std::max(span.last, day);
  }
  return span;
}

void widen(std::optional<DaySpan>& span, std::int64_t day) noexcept {
  if (!span) span = DaySpan{day, day};
  span->first = std::min(span->first, day);
  span->last = std::max(span->last, day);
}

/// Keeps the first value a day gets: a later row of the same date only fills a gap.
void fill(double& cell, double value) noexcept {
  if (std::isnan(cell)) cell = value;
}
void fill(double& cell, const std::optional<double>& value) noexcept {
  if (value) fill(cell, *value);
}
template <std::size_t N>
void fill(double* cells, const std::array<double, N>* values) noexcept {
  if (!values) return;
  for (std::size_t i = 0; i < N; ++i) fill(cells[i], (*values)[i]);
}

}  // namespace

/// Lays parsed records on a timeline already sized to hold them all.
class TimelineBuilder {
 public:
  explicit TimelineBuilder(Timeline& timeline) noexcept : t_(timeline) {}

  void allocate(std::int64_t first_day, std::size_t days) {
    t_.first_day_ = first_day;
    t_.days_ = days;
    t_.columns_.assign(column_count * days, absent);
    t_.ap_3hr_.assign(8 * days, absent);
    t_.kp_3hr_.assign(8 * days, absent);
    t_.dtc_hourly_.assign(24 * days, absent);
    t_.data_type_.assign(days, F107DataType::unknown);
    t_.solfsmy_source_.assign(days, no_flags);
  }

  void add_csv(const std::vector<DailyIndices>& records, const std::vector<CelestrakRowExtras>& extras) {
    t_.spans_[static_cast<std::size_t>(Source::csv)] = span_of(records);
    for (std::size_t r = 0; r < records.size(); ++r) {
      const DailyIndices& record = records[r];
      const std::int64_t day = record.date.to_days();
      const std::size_t i = index(day);
      fill(cell(Column::f107_obs, i), record.get(Field::f10_7_obs));
      fill(cell(Column::f107_adj, i), record.get(Field::f10_7_adj));
      fill(cell(Column::ap_avg, i), record.get(Field::ap_daily));
      fill(&t_.ap_3hr_[8 * i], record.get(Series::ap_3hr));
      fill(&t_.kp_3hr_[8 * i], record.get(Series::kp_3hr));
      for (std::size_t e = 0; e < extra_columns.size(); ++e) fill(cell(extra_columns[e], i), extras[r].values[e]);
      const F107DataType type = extras[r].data_type;
      if (t_.data_type_[i] == F107DataType::unknown) t_.data_type_[i] = type;
      note_data_type(day, type);
    }
  }

  void add_solfsmy(const std::vector<DailyIndices>& records, const std::vector<SolfsmyRowExtras>& extras) {
    t_.spans_[static_cast<std::size_t>(Source::solfsmy)] = span_of(records);
    for (std::size_t r = 0; r < records.size(); ++r) {
      const DailyIndices& record = records[r];
      const std::size_t i = index(record.date.to_days());
      fill(cell(Column::f10, i), record.get(Field::f10_7_jb));
      fill(cell(Column::f81c, i), record.get(Field::f10_7_jb_81c));
      fill(cell(Column::s10, i), record.get(Field::s10_7));
      fill(cell(Column::m10, i), record.get(Field::m10_7));
      fill(cell(Column::y10, i), record.get(Field::y10_7));
      fill(cell(Column::s81c, i), extras[r].s81c);
      fill(cell(Column::m81c, i), extras[r].m81c);
      fill(cell(Column::y81c, i), extras[r].y81c);
      if (t_.solfsmy_source_[i] == no_flags) t_.solfsmy_source_[i] = extras[r].source;
    }
  }

  void add_dtcfile(const std::vector<DailyIndices>& records, const std::vector<HourlyDtc>& hourly) {
    t_.spans_[static_cast<std::size_t>(Source::dtcfile)] = span_of(records);
    for (std::size_t r = 0; r < records.size(); ++r) {
      const std::size_t i = index(records[r].date.to_days());
      fill(&t_.dtc_hourly_[24 * i], &hourly[r]);
    }
  }

 private:
  std::size_t index(std::int64_t day) const noexcept { return static_cast<std::size_t>(day - t_.first_day_); }
  double& cell(Column c, std::size_t i) noexcept { return t_.columns_[static_cast<std::size_t>(c) * t_.days_ + i]; }

  /// Monthly predictions lie outside the daily span; the first predicted
  /// day of either kind is where the observations stop being the source.
  void note_data_type(std::int64_t day, F107DataType type) noexcept {
    if (type != F107DataType::predicted_monthly) widen(t_.daily_csv_span_, day);
    if (type == F107DataType::observed) t_.last_observed_ = std::max(t_.last_observed_.value_or(day), day);
    if (type == F107DataType::predicted_daily || type == F107DataType::predicted_monthly) {
      t_.first_predicted_ = std::min(t_.first_predicted_.value_or(day), day);
    }
  }

  Timeline& t_;
};

namespace {

/// The CSV's first row whose date has no place in the calendar (31 April):
/// the reader checks the fields' ranges only, but a timeline needs the day.
std::optional<LoadError> check_calendar_days(const ParsedFiles& files) {
  for (std::size_t r = 0; r < files.csv.size(); ++r) {
    if (!files.csv[r].date.is_calendar_day()) {
      return LoadError{Source::csv, DataError::parse(files.csv_extras[r].row, "invalid date").text()};
    }
  }
  return std::nullopt;
}

/// The days every file's rows cover together, or an error when they span
/// more than a timeline holds; none when no file has a row.
Result<std::optional<DaySpan>, LoadError> joint_span(const ParsedFiles& files) {
  std::optional<DaySpan> joint;
  const std::array<std::pair<Source, const std::vector<DailyIndices>*>, source_count> sources{
      {{Source::csv, &files.csv}, {Source::solfsmy, &files.solfsmy}, {Source::dtcfile, &files.dtcfile}}};
  for (const auto& [source, records] : sources) {
    const auto span = span_of(*records);
    if (!span) continue;
    widen(joint, span->first);
    widen(joint, span->last);
    if (joint->last - joint->first >= Timeline::max_days) {
      return LoadError{source, "its dates and those of the other files span more than " +
                                   std::to_string(Timeline::max_days) + " days"};
    }
  }
  return joint;
}

}  // namespace

Result<Timeline, LoadError> Timeline::load(const SourceTexts& texts) {
  ParsedFiles files;
  if (auto error = read_all(texts, files)) return std::move(*error);
  if (auto error = check_calendar_days(files)) return std::move(*error);
  auto span = joint_span(files);
  if (!span.ok()) return std::move(span.error());

  Timeline timeline;
  TimelineBuilder builder(timeline);
  const std::optional<DaySpan> days = span.value();
  builder.allocate(days ? days->first : 0, days ? static_cast<std::size_t>(days->last - days->first + 1) : 0);
  if (texts.csv) builder.add_csv(files.csv, files.csv_extras);
  if (texts.solfsmy) builder.add_solfsmy(files.solfsmy, files.solfsmy_extras);
  if (texts.dtcfile) builder.add_dtcfile(files.dtcfile, files.dtc_hourly);
  return timeline;
}

}  // namespace sunindex::timeline
