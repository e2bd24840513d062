#include "timeline/timeline.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "common/concurrently.hpp"
#include "readers/dtcfile.hpp"
#include "readers/fixed_columns.hpp"
#include "readers/legacy_text.hpp"
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

constexpr bool laid(Column c) noexcept { return laid_at_load[static_cast<std::size_t>(c)]; }

/// The CSV's values a load reads: its columns laid at load, and the series
/// the model inputs and the landmark days need beside them (the 3-hourly ap
/// and the data type, not the Kp).
constexpr CelestrakValues csv_values_at_load{
    .f10_7_obs = laid(Column::f107_obs),
    .f10_7_adj = laid(Column::f107_adj),
    .ap_daily = laid(Column::ap_avg),
    .ap_3hr = true,
    .kp_3hr = false,
    .data_type = true,
    .extras = [] {
      CelestrakRowExtras::Bits bits = 0;
      for (std::size_t e = 0; e < extra_columns.size(); ++e) {
        if (laid(extra_columns[e])) bits |= CelestrakRowExtras::bit(static_cast<CelestrakExtra>(e));
      }
      return bits;
    }(),
};
static_assert(csv_values_at_load.ap_3hr && csv_values_at_load.data_type && !csv_values_at_load.kp_3hr,
              "the 3-hourly ap and the data type are stored at load, the Kp later");
/// The strict reading every file of a timeline gets.
constexpr ReadOptions strict{.strict_structure = true};

/// What the readers gave for each file, with each record's day number.
struct ParsedFiles {
  std::vector<DailyIndices> csv, solfsmy, dtcfile, txt;
  std::vector<CelestrakRowExtras> csv_extras, txt_extras;
  std::optional<std::int64_t> txt_updated_us;
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

/// The CSV's records and extras with the values `values` names, or its error.
std::optional<LoadError> read_csv(std::optional<std::string_view> text, const CelestrakValues& values,
                                  std::vector<DailyIndices>& records, std::vector<CelestrakRowExtras>& extras) {
  return read_source(
      text, Source::csv, [&](std::string_view t) { return parse_celestrak_csv(t, extras, strict, values); }, records);
}

/// The text file's rows and stamp, or its error.
std::optional<LoadError> read_txt(std::string_view text, ParsedFiles& files) {
  auto result = parse_legacy_text(text, strict);
  if (!result.ok()) return LoadError{Source::txt, result.error().text()};
  files.txt = std::move(result.value().records);
  files.txt_extras = std::move(result.value().extras);
  files.txt_updated_us = result.value().updated_us;
  return std::nullopt;
}

/// Every file given, read with its extras and the readers' strict rules, or
/// the first failure in the order CSV or text file, SOLFSMY, DTCFILE. The
/// CSV or the text file is read beside the other two.
std::optional<LoadError> read_all(const SourceTexts& texts, ParsedFiles& files) {
  if (texts.csv && texts.txt) {
    return LoadError{Source::txt, "give a CSV or a legacy text file, not both: they hold the same rows"};
  }
  std::optional<LoadError> csv_error, fixed_columns_error;
  run_concurrently(
      [&] {
        csv_error = read_csv(texts.csv, csv_values_at_load, files.csv, files.csv_extras);
        if (!csv_error && texts.txt) csv_error = read_txt(*texts.txt, files);
      },
      [&] {
        fixed_columns_error = read_source(
            texts.solfsmy, Source::solfsmy,
            [&](std::string_view t) { return parse_solfsmy(t, files.solfsmy_extras, strict); }, files.solfsmy);
        if (fixed_columns_error) return;
        fixed_columns_error = read_source(
            texts.dtcfile, Source::dtcfile,
            [&](std::string_view t) { return parse_dtcfile(t, files.dtc_hourly, strict); }, files.dtcfile);
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

/// Sets the cells of values the record has; absent ones leave them.
template <std::size_t N>
void lay_series(double* cells, const std::array<double, N>* values) noexcept {
  if (values) std::copy(values->begin(), values->end(), cells);
}

}  // namespace

/// Lays parsed records on a timeline already sized to hold them all. Rows of
/// one date in one file combine by the store's rule (fill_absent): each later
/// row, its record and its extras, goes into the first with fill_absent_from,
/// so a value the first row has, a NaN included, is never replaced.
class TimelineBuilder {
 public:
  /// Lays a load's rows into `timeline`.
  explicit TimelineBuilder(Timeline& timeline) noexcept : shape_(timeline), t_(&timeline) {}
  /// Lays the CSV's values read later into `later`, which is sized for `timeline`.
  TimelineBuilder(const Timeline& timeline, Timeline::LaterColumns& later) noexcept
      : shape_(timeline), later_(&later) {}
  /// Lays a load's rows into `timeline` and, of a file read whole at load,
  /// the values laid later into `later`, which is sized for it.
  TimelineBuilder(Timeline& timeline, Timeline::LaterColumns& later) noexcept
      : shape_(timeline), t_(&timeline), later_(&later) {}

  /// Sizes the timeline for `spans`, each file's first and last day, every
  /// value absent. Writing them is most of a load's writing: two threads
  /// share it, in halves of about the same size.
  void allocate(const std::array<std::optional<DaySpan>, source_count>& spans, std::int64_t first_day,
                std::size_t days) {
    t_->spans_ = spans;
    t_->first_day_ = first_day;
    t_->days_ = days;
    run_concurrently(
        [&] {
          t_->columns_.assign(columns_laid_at_load * days, absent);
          t_->data_type_.assign(days, F107DataType::unknown);
        },
        [&] {
          t_->ap_3hr_.assign(8 * days, absent);
          t_->dtc_hourly_.assign(24 * days, absent);
          t_->solfsmy_source_.assign(days, no_flags);
        });
  }

  /// Lays the rows of the CSV or the text file, read with `values`: what they lack leaves its cells
  /// as they are, so a later read of the other values lays those alone (and
  /// the load's alone reach the timeline, the later ones the LaterColumns).
  void add_csv(std::vector<DailyIndices>& records, std::vector<CelestrakRowExtras>& extras,
               const CelestrakValues& values) {
    lay_rows(records, extras, [&](std::size_t r, std::size_t i, const DailyIndices& record,
                                  const CelestrakRowExtras& extra) {
      lay(Column::f107_obs, i, record.get(Field::f10_7_obs));
      lay(Column::f107_adj, i, record.get(Field::f10_7_adj));
      lay(Column::ap_avg, i, record.get(Field::ap_daily));
      if (values.ap_3hr) lay_series(&t_->ap_3hr_[8 * i], record.get(Series::ap_3hr));
      if (values.kp_3hr) lay_series(&later_->kp_3hr[8 * i], record.get(Series::kp_3hr));
      for (std::size_t e = 0; e < extra_columns.size(); ++e) {
        if (extra.has(static_cast<CelestrakExtra>(e))) cell(extra_columns[e], i) = extra.values[e];
      }
      if (values.data_type) {
        t_->data_type_[i] = extra.data_type;
        note_data_type(shape_.first_day_ + static_cast<std::int64_t>(i), extras[r].data_type);
      }
    });
  }

  void add_solfsmy(std::vector<DailyIndices>& records, std::vector<SolfsmyRowExtras>& extras) {
    lay_rows(records, extras, [&](std::size_t, std::size_t i, const DailyIndices& record,
                                  const SolfsmyRowExtras& extra) {
      lay(Column::f10, i, record.get(Field::f10_7_jb));
      lay(Column::f81c, i, record.get(Field::f10_7_jb_81c));
      lay(Column::s10, i, record.get(Field::s10_7));
      lay(Column::m10, i, record.get(Field::m10_7));
      lay(Column::y10, i, record.get(Field::y10_7));
      if (extra.has(SolfsmyExtra::s81c)) cell(Column::s81c, i) = extra.s81c;
      if (extra.has(SolfsmyExtra::m81c)) cell(Column::m81c, i) = extra.m81c;
      if (extra.has(SolfsmyExtra::y81c)) cell(Column::y81c, i) = extra.y81c;
      if (extra.has(SolfsmyExtra::source)) t_->solfsmy_source_[i] = extra.source;
    });
  }

  /// A DTCFILE row has all 24 values or fails the read: the first row of a
  /// date gives them all, and a later one has nothing left to give.
  void add_dtcfile(const std::vector<DailyIndices>& records, const std::vector<HourlyDtc>& hourly) {
    forget_first_rows();
    for (std::size_t r = 0; r < records.size(); ++r) {
      const std::size_t i = index(records[r].date.to_days());
      if (first_row_[i] == no_row) {
        first_row_[i] = r;
        lay_series(&t_->dtc_hourly_[24 * i], &hourly[r]);
      }
    }
  }

 private:
  static constexpr std::size_t no_row = std::numeric_limits<std::size_t>::max();

  void forget_first_rows() { first_row_.assign(shape_.days_, no_row); }

  /// Calls `lay_row(r, i, record, extra)` for each row `r` of a file, `i`
  /// being its day's index and `record` and `extra` its day's first row with
  /// `r` and every row of the day before it combined in (combine).
  template <class Extra, class LayRow>
  void lay_rows(std::vector<DailyIndices>& records, std::vector<Extra>& extras, const LayRow& lay_row) {
    forget_first_rows();
    for (std::size_t r = 0; r < records.size(); ++r) {
      const std::size_t i = index(records[r].date.to_days());
      const std::size_t first = combine(r, i, records, extras);
      lay_row(r, i, records[first], extras[first]);
    }
  }

  /// Takes row `r` of its file into day `i`'s first row, in each of `rows`
  /// (the records and their extras, in step) with fill_absent_from, and
  /// returns the first row's index: `r` itself when it is the day's first.
  template <class... Rows>
  std::size_t combine(std::size_t r, std::size_t i, std::vector<Rows>&... rows) noexcept {
    if (first_row_[i] == no_row) return first_row_[i] = r;
    const std::size_t first = first_row_[i];
    (rows[first].fill_absent_from(rows[r]), ...);
    return first;
  }

  std::size_t index(std::int64_t day) const noexcept { return static_cast<std::size_t>(day - shape_.first_day_); }
  /// Day `i`'s cell of a column: the timeline's at load, the LaterColumns' after.
  double& cell(Column c, std::size_t i) noexcept {
    const std::size_t at = column_places[static_cast<std::size_t>(c)] * shape_.days_ + i;
    return laid(c) ? t_->columns_[at] : later_->columns[at];
  }
  /// Sets a cell of a value the record has; an absent one leaves it.
  void lay(Column c, std::size_t i, const std::optional<double>& value) noexcept {
    if (value) cell(c, i) = *value;
  }

  /// Monthly predictions lie outside the daily span; the first predicted
  /// day of either kind is where the observations stop being the source.
  void note_data_type(std::int64_t day, F107DataType type) noexcept {
    if (type != F107DataType::predicted_monthly) widen(t_->daily_csv_span_, day);
    if (type == F107DataType::observed) t_->last_observed_ = std::max(t_->last_observed_.value_or(day), day);
    if (type == F107DataType::predicted_daily || type == F107DataType::predicted_monthly) {
      t_->first_predicted_ = std::min(t_->first_predicted_.value_or(day), day);
    }
  }

  const Timeline& shape_;                      // its first day and days
  Timeline* t_ = nullptr;                      // at load: where every value goes
  Timeline::LaterColumns* later_ = nullptr;    // later: where the CSV's later values go
  std::vector<std::size_t> first_row_;  // per day, the index of its first row in the file being laid
};

namespace {

/// Each file's records, in the order errors are looked for.
std::array<std::pair<Source, const std::vector<DailyIndices>*>, source_count> records_by_source(
    const ParsedFiles& files) noexcept {
  return {{{Source::csv, &files.csv},
           {Source::solfsmy, &files.solfsmy},
           {Source::dtcfile, &files.dtcfile},
           {Source::txt, &files.txt}}};
}

/// The row in its file of record `index` of `source`.
std::uint64_t row_of(Source source, std::size_t index, const ParsedFiles& files, const SourceTexts& texts) {
  switch (source) {
    case Source::csv: return files.csv_extras[index].row;
    case Source::txt: return files.txt_extras[index].row;
    case Source::solfsmy: return fixed_columns::row_of_record(*texts.solfsmy, index);
    default: return fixed_columns::row_of_record(*texts.dtcfile, index);
  }
}

/// The error for rows that together span `joint`, more than a timeline holds.
/// It names the row that stretches the span: of the earliest and the latest
/// day, the one farther from the median of every row's day (the earliest on
/// a tie), as a stray date lies far from the bulk of the rows whatever file
/// it is in; its first row in the order CSV, SOLFSMY, DTCFILE.
LoadError span_error(const ParsedFiles& files, const SourceTexts& texts, DaySpan joint) {
  std::vector<std::int64_t> days;
  for (const auto& [source, records] : records_by_source(files)) {
    for (const DailyIndices& record : *records) days.push_back(record.date.to_days());
  }
  const auto middle = days.begin() + static_cast<std::ptrdiff_t>(days.size() / 2);
  std::nth_element(days.begin(), middle, days.end());
  const std::int64_t stray = *middle - joint.first >= joint.last - *middle ? joint.first : joint.last;
  const std::string message =
      "its date and the other rows' dates span more than " + std::to_string(Timeline::max_days) + " days";
  for (const auto& [source, records] : records_by_source(files)) {
    for (std::size_t r = 0; r < records->size(); ++r) {
      if ((*records)[r].date.to_days() == stray) {
        return LoadError{source, DataError::parse(row_of(source, r, files, texts), message).text()};
      }
    }
  }
  return LoadError{Source::csv, message};  // not reached: some row has the stray day
}

/// Each file's first and last day, and the days they cover together.
struct Spans {
  std::array<std::optional<DaySpan>, source_count> of_source;
  std::optional<DaySpan> joint;  // none when no file has a row
};

/// The spans of the files' rows, or an error when together they span more
/// than a timeline holds.
Result<Spans, LoadError> spans_of(const ParsedFiles& files, const SourceTexts& texts) {
  Spans spans;
  for (const auto& [source, records] : records_by_source(files)) {
    const auto span = span_of(*records);
    spans.of_source[static_cast<std::size_t>(source)] = span;
    if (span) {
      widen(spans.joint, span->first);
      widen(spans.joint, span->last);
    }
  }
  const auto& joint = spans.joint;
  if (joint && joint->last - joint->first >= Timeline::max_days) return span_error(files, texts, *joint);
  return spans;
}

}  // namespace

Result<Timeline, LoadError> Timeline::load(const SourceTexts& texts) {
  ParsedFiles files;
  if (auto error = read_all(texts, files)) return std::move(*error);
  auto spans = spans_of(files, texts);
  if (!spans.ok()) return std::move(spans.error());

  Timeline timeline;
  const std::optional<DaySpan> days = spans.value().joint;
  TimelineBuilder(timeline).allocate(spans.value().of_source, days ? days->first : 0,
                                     days ? static_cast<std::size_t>(days->last - days->first + 1) : 0);
  // The text file is read whole: what the CSV leaves for later is laid now.
  Timeline::LaterColumns later;
  if (texts.txt) later.assign_absent(timeline.days_);
  // The CSV's cells and the other files' are apart: one thread lays each.
  run_concurrently(
      [&] {
        if (texts.csv) TimelineBuilder(timeline).add_csv(files.csv, files.csv_extras, csv_values_at_load);
        if (texts.txt) TimelineBuilder(timeline, later).add_csv(files.txt, files.txt_extras, CelestrakValues{});
      },
      [&] {
        TimelineBuilder builder(timeline);
        if (texts.solfsmy) builder.add_solfsmy(files.solfsmy, files.solfsmy_extras);
        if (texts.dtcfile) builder.add_dtcfile(files.dtcfile, files.dtc_hourly);
      });
  timeline.stamps_[static_cast<std::size_t>(Source::txt)] = files.txt_updated_us;
  timeline.csv_text_ = texts.csv;
  timeline.later_made_ = std::make_unique<std::once_flag>();
  if (texts.txt) {
    timeline.later_ = std::make_unique<const LaterColumns>(std::move(later));
    std::call_once(*timeline.later_made_, [] {});  // nothing is left to read
  }
  return timeline;
}

void Timeline::LaterColumns::assign_absent(std::size_t days) {
  columns.assign((column_count - columns_laid_at_load) * days, absent);
  kp_3hr.assign(8 * days, absent);
}

Result<AllColumns, LoadError> Timeline::all_columns() const {
  std::call_once(*later_made_, [this] {
    constexpr CelestrakValues later_values = csv_values_at_load.complement();
    std::vector<DailyIndices> records;
    std::vector<CelestrakRowExtras> extras;
    LaterColumns later;
    // The CSV is read while its cells are written absent, as at load.
    run_concurrently([&] { later_error_ = read_csv(csv_text_, later_values, records, extras); },
                     [&] { later.assign_absent(days_); });
    if (later_error_) return;
    TimelineBuilder(*this, later).add_csv(records, extras, later_values);
    later_ = std::make_unique<const LaterColumns>(std::move(later));
  });
  if (later_error_) return *later_error_;
  AllColumns all;
  all.timeline_ = this;
  for (std::size_t c = 0; c < column_count; ++c) {
    const double* laid_together = laid_at_load[c] ? columns_.data() : later_->columns.data();
    all.columns_[c] = laid_together + column_places[c] * days_;
  }
  all.kp_3hr_ = later_->kp_3hr.data();
  return all;
}

}  // namespace sunindex::timeline
