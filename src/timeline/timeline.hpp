#pragma once

// Every file given on one dense daily timeline: one row per UTC day from the
// earliest to the latest date any file holds, every value a double (NaN when
// absent), so that a day is found by its number and never by a row position.
// Where several files give a value, the merge's precedence (merge.hpp) picks
// one, and the timeline keeps which file gave it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "readers/celestrak_csv.hpp"
#include "store/data_error.hpp"
#include "timeline/large_array.hpp"

namespace sunindex::timeline {

// The sources and the daily columns are each listed once, here: the enum,
// its count and the keys that Python knows them by all expand from one list,
// so that no second table has to be kept in step by hand.

/// The files a timeline is made from: X(key), the key naming the file in
/// Python (the keyword of SpaceWeather.load).
#define SUNINDEX_TIMELINE_SOURCES(X) \
  X(csv)     /* the CelesTrak daily-index CSV */ \
  X(solfsmy) /* SOLFSMY.TXT */ \
  X(dtcfile) /* DTCFILE.TXT */ \
  X(txt)     /* the legacy text file: the CSV's rows, in fixed columns */ \
  X(gfz)     /* GFZ's Kp_ap_Ap_SN_F107 file */ \
  X(swpc)    /* SWPC's 45-day Ap and F10.7 forecast */ \
  X(hp30)    /* GFZ's Hp30_ap30 file */ \
  X(hp60)    /* GFZ's Hp60_ap60 file */

/// The one-value-per-day columns: X(key, laid), the key of the column in
/// Python, and when the timeline lays it: at `load`, or `later`, on the
/// first call of all_columns(). A load reads of the CSV only what the model
/// inputs need: most callers never ask for the rest, and reading it too took
/// twice as long.
#define SUNINDEX_TIMELINE_COLUMNS(X) \
  X(f107_obs, load)           /* CSV F10.7_OBS */ \
  X(f107_adj, later)          /* CSV F10.7_ADJ */ \
  X(f107_obs_center81, load)  /* CSV F10.7_OBS_CENTER81 */ \
  X(f107_obs_last81, later)   /* CSV F10.7_OBS_LAST81 */ \
  X(f107_adj_center81, later) /* CSV F10.7_ADJ_CENTER81 */ \
  X(f107_adj_last81, later)   /* CSV F10.7_ADJ_LAST81 */ \
  X(ap_avg, load)             /* CSV AP_AVG */ \
  X(kp_sum, later)            /* CSV KP_SUM */ \
  X(cp, later)                /* CSV CP */ \
  X(c9, later)                /* CSV C9 */ \
  X(isn, later)               /* CSV ISN */ \
  X(bsrn, later)              /* CSV BSRN */ \
  X(nd, later)                /* CSV ND */ \
  X(f10, load)                /* SOLFSMY F10 */ \
  X(f81c, load)               /* SOLFSMY F81c */ \
  X(s10, load)                /* SOLFSMY S10 */ \
  X(s81c, load)               /* SOLFSMY S81c */ \
  X(m10, load)                /* SOLFSMY M10 */ \
  X(m81c, load)               /* SOLFSMY M81c */ \
  X(y10, load)                /* SOLFSMY Y10 */ \
  X(y81c, load)               /* SOLFSMY Y81c */

#define SUNINDEX_ENUMERATOR(key) key,
#define SUNINDEX_KEY_TEXT(key) #key,
#define SUNINDEX_COLUMN_ENUMERATOR(key, laid) key,
#define SUNINDEX_COLUMN_KEY_TEXT(key, laid) #key,
#define SUNINDEX_LAID_load true
#define SUNINDEX_LAID_later false
#define SUNINDEX_COLUMN_LAID_AT_LOAD(key, laid) SUNINDEX_LAID_##laid,

/// The files a timeline is made from (see SUNINDEX_TIMELINE_SOURCES).
enum class Source : std::uint8_t {
  SUNINDEX_TIMELINE_SOURCES(SUNINDEX_ENUMERATOR)
  count,  // not a source
};
inline constexpr std::size_t source_count = static_cast<std::size_t>(Source::count);
/// The key of each Source.
inline constexpr std::array<std::string_view, source_count> source_keys{
    SUNINDEX_TIMELINE_SOURCES(SUNINDEX_KEY_TEXT)};
/// A merged value no file gave, where a Source's code would be.
inline constexpr std::uint8_t no_source = 0xFF;
static_assert(source_count < no_source);

/// The one-value-per-day columns (see SUNINDEX_TIMELINE_COLUMNS).
enum class Column : std::uint8_t {
  SUNINDEX_TIMELINE_COLUMNS(SUNINDEX_COLUMN_ENUMERATOR)
  count,  // not a column
};
inline constexpr std::size_t column_count = static_cast<std::size_t>(Column::count);
/// The key of each Column.
inline constexpr std::array<std::string_view, column_count> column_keys{
    SUNINDEX_TIMELINE_COLUMNS(SUNINDEX_COLUMN_KEY_TEXT)};
/// Whether load() lays each Column; the others wait for all_columns().
inline constexpr std::array<bool, column_count> laid_at_load{SUNINDEX_TIMELINE_COLUMNS(SUNINDEX_COLUMN_LAID_AT_LOAD)};
inline constexpr auto columns_laid_at_load = static_cast<std::size_t>(std::ranges::count(laid_at_load, true));
/// Each column's place among those laid at the same time, which are stored together.
inline constexpr auto column_places = [] {
  std::array<std::size_t, column_count> places{};
  std::array<std::size_t, 2> next{};  // the places taken later, and at load
  for (std::size_t c = 0; c < column_count; ++c) places[c] = next[laid_at_load[c]]++;
  return places;
}();

/// A column load() lays, checked where it is named: naming one laid later
/// does not compile, so that no code reads it before it is laid.
class LoadedColumn {
 public:
  consteval LoadedColumn(Column column) : column_(column) {  // implicit: a Column constant names one
    if (!laid_at_load[static_cast<std::size_t>(column)]) throw "laid later: read it through Timeline::all_columns()";
  }
  constexpr Column column() const noexcept { return column_; }

 private:
  Column column_;
};

/// Inclusive range of day numbers (days since 1970-01-01).
struct DaySpan {
  std::int64_t first;
  std::int64_t last;
  bool contains(std::int64_t day) const noexcept { return first <= day && day <= last; }
};

/// Why a timeline could not be made: which file (its kind and its place
/// among those given), and its error's text.
struct LoadError {
  Source source;
  std::size_t file;
  std::string text;
};

/// One file given to a timeline: its kind and its whole content.
struct SourceText {
  Source source;
  std::string_view text;
};

/// An 81-day mean the timeline computes whose window reaches past its last
/// day of flux: the days after that take the solar-cycle prediction, at the
/// percentile of the call, so the mean is finished by the caller.
struct MeanTail {
  std::int64_t day;
  double known_tenths;         // the window's flux up to the last day of flux, in tenths
  std::int64_t first_missing;  // the window's first day past it; the window ends at day + 40
};

class Timeline;

/// Every column of a timeline, those laid later included, and its Kp: what
/// Timeline::all_columns() gives. Valid as long as the timeline.
class AllColumns {
 public:
  const Timeline& timeline() const noexcept { return *timeline_; }
  /// A column, one value per day from the timeline's first_day().
  const double* column(Column c) const noexcept { return columns_[static_cast<std::size_t>(c)]; }
  /// The 3-hourly Kp, eight per day, 00-03 UT first, as the CSV writes it (ten times GFZ's).
  const double* kp_3hr() const noexcept { return kp_3hr_; }

 private:
  friend class Timeline;
  const Timeline* timeline_ = nullptr;
  std::array<const double*, column_count> columns_{};
  const double* kp_3hr_ = nullptr;
};

class Timeline {
 public:
  /// The longest span of days a timeline holds, so that one stray date in a
  /// file cannot make it allocate without bound (about 270 years).
  static constexpr std::int64_t max_days = 100'000;

  /// Reads every file given with the shared readers, by their strict rules
  /// (ReadOptions::strict_structure), and lays their rows on one timeline.
  /// Rows of one date in the files of one kind combine value by value as the
  /// store combines them: the first row that has a value gives it, a NaN
  /// included. The daily sources (CSV, text file, GFZ, SWPC) then merge value
  /// by value by the precedence of merge.hpp. Fails with the error of the
  /// first file given that a reader refuses, or with the row that stretches
  /// the files' dates beyond max_days.
  ///
  /// When the CSV is the only daily source, only its columns laid at load
  /// (SUNINDEX_TIMELINE_COLUMNS), the 3-hourly ap and the data type are read
  /// here; the others, the Kp among them, wait for all_columns(), and the
  /// CSV's text must outlive the timeline for that. Merged sources are read
  /// whole at once.
  static Result<Timeline, LoadError> load(std::span<const SourceText> files);

  /// Every column: the CSV's values load() left for later are read and laid
  /// on the first call, once, whichever thread asks first; the others wait
  /// for it. Fails as load() would have (it cannot, as load() read the same
  /// rows by the same rules); throws std::bad_alloc when memory runs out,
  /// and may then be called again.
  Result<AllColumns, LoadError> all_columns() const;

  std::int64_t first_day() const noexcept { return first_day_; }
  std::size_t days() const noexcept { return days_; }
  /// The timeline's first and last day, or none when it has no days.
  std::optional<DaySpan> day_span() const noexcept {
    if (days_ == 0) return std::nullopt;
    return DaySpan{first_day_, first_day_ + static_cast<std::int64_t>(days_) - 1};
  }

  /// The first and last day of a file's rows, or none if it was not loaded
  /// or had no rows.
  std::optional<DaySpan> span(Source source) const noexcept { return spans_[static_cast<std::size_t>(source)]; }
  /// The file's own stamp of when it was made, microseconds since
  /// 1970-01-01 UTC, where it writes one (the text file's UPDATED).
  std::optional<std::int64_t> stamp_us(Source source) const noexcept { return stamps_[static_cast<std::size_t>(source)]; }
  /// The first and last day of the rows of the `file`-th file given, or none
  /// when it had none; and its own stamp, as stamp_us().
  std::optional<DaySpan> file_span(std::size_t file) const noexcept { return file_spans_[file]; }
  std::optional<std::int64_t> file_stamp_us(std::size_t file) const noexcept { return file_stamps_[file]; }
  std::size_t file_count() const noexcept { return file_spans_.size(); }
  /// The span of the days of every daily source (the CSV's and the text
  /// file's daily rows, their monthly predictions left out, GFZ's and SWPC's days).
  std::optional<DaySpan> daily_span() const noexcept { return daily_span_; }
  /// The span of the days any Hp30 or Hp60 file gives.
  std::optional<DaySpan> hpo_span() const noexcept { return hpo_span_; }
  std::optional<std::int64_t> last_observed() const noexcept { return last_observed_; }
  std::optional<std::int64_t> first_predicted() const noexcept { return first_predicted_; }

  /// A column laid at load, one value per day from first_day().
  const double* column(LoadedColumn c) const noexcept {
    return columns_.data() + column_places[static_cast<std::size_t>(c.column())] * days_;
  }
  /// The 3-hourly ap, eight per day, 00-03 UT first.
  const double* ap_3hr() const noexcept { return ap_3hr_.data(); }
  /// The hourly Dtc, 24 per day, 00 UT first; only where has_dtc_hourly(),
  /// which a DTCFILE with rows makes true.
  const double* dtc_hourly() const noexcept { return dtc_hourly_.data(); }
  bool has_dtc_hourly() const noexcept { return !dtc_hourly_.empty(); }
  /// The least certain type of the rows the day's merged values came from.
  const F107DataType* data_type() const noexcept { return data_type_.data(); }
  /// The data type code of each day's F10.7_OBS_CENTER81: its row's, or for
  /// a mean the timeline computed, its day's raised to PRD or MSFC where the
  /// window took predicted days or the prediction.
  const std::uint8_t* mean_type() const noexcept { return mean_type_.data(); }
  /// The computed means whose window reaches past the last day of flux, by day.
  const std::vector<MeanTail>& mean_tails() const noexcept { return mean_tails_; }
  /// The source of each day's F10.7_OBS and of each 3-hourly ap (eight per
  /// day), or no_source; and GFZ's D flag of the day where GFZ gave its Kp, else -1.
  const std::uint8_t* f107_source() const noexcept { return f107_source_.data(); }
  const std::uint8_t* ap_source() const noexcept { return ap_source_.data(); }
  const std::int8_t* kp_status() const noexcept { return kp_status_.data(); }
  /// Hp30 and ap30, 48 per day; Hp60 and ap60, 24 per day; 00 UT first;
  /// from the first day of hpo_span(), which hpo_index_of() counts from.
  const double* hp30() const noexcept { return hp30_.data(); }
  const double* ap30() const noexcept { return ap30_.data(); }
  const double* hp60() const noexcept { return hp60_.data(); }
  const double* ap60() const noexcept { return ap60_.data(); }
  /// SOLFSMY's source flags, four per day, spaces where there is no row.
  const std::array<char, 4>* solfsmy_source() const noexcept { return solfsmy_source_.data(); }
  /// The last day with a SOLFSMY flag other than '0' (spline-filled): past it
  /// lies the forecast a release ends with, months of filled values.
  std::optional<std::int64_t> solfsmy_last_measured() const noexcept { return solfsmy_last_measured_; }

  /// The index of `day` in the Hpo arrays, or none outside hpo_span().
  std::optional<std::size_t> hpo_index_of(std::int64_t day) const noexcept {
    if (!hpo_span_ || !hpo_span_->contains(day)) return std::nullopt;
    return static_cast<std::size_t>(day - hpo_span_->first);
  }

  /// The index of `day` in the columns, or none outside the timeline.
  std::optional<std::size_t> index_of(std::int64_t day) const noexcept {
    if (day < first_day_ || day - first_day_ >= static_cast<std::int64_t>(days_)) return std::nullopt;
    return static_cast<std::size_t>(day - first_day_);
  }

 private:
  friend class TimelineBuilder;
  Timeline() = default;

  std::int64_t first_day_ = 0;
  std::size_t days_ = 0;
  std::array<std::optional<DaySpan>, source_count> spans_{};
  std::array<std::optional<std::int64_t>, source_count> stamps_{};
  std::vector<std::optional<DaySpan>> file_spans_;
  std::vector<std::optional<std::int64_t>> file_stamps_;
  std::optional<DaySpan> daily_span_, hpo_span_;
  std::optional<std::int64_t> last_observed_, first_predicted_;
  /// What all_columns() lays: the columns laid later, by place, and the Kp.
  struct LaterColumns {
    LargeArray<double> columns;
    LargeArray<double> kp_3hr;

    /// Every value absent, for a timeline of `days` days.
    void assign_absent(std::size_t days);
  };

  LargeArray<double> columns_;  // the columns laid at load, by place, days_ values each
  LargeArray<double> ap_3hr_, dtc_hourly_;
  std::vector<F107DataType> data_type_;
  std::vector<std::uint8_t> mean_type_;
  std::vector<MeanTail> mean_tails_;
  std::vector<std::array<char, 4>> solfsmy_source_;
  std::optional<std::int64_t> solfsmy_last_measured_;
  std::vector<std::uint8_t> f107_source_, ap_source_;
  std::vector<std::int8_t> kp_status_;
  LargeArray<double> hp30_, ap30_, hp60_, ap60_;

  std::vector<std::pair<std::size_t, std::string_view>> csv_texts_;  // for all_columns(): each CSV's place and text
  // Made once by all_columns(), the only way to them: a cache filled once, not a change.
  std::unique_ptr<std::once_flag> later_made_;  // behind a pointer: a timeline moves
  mutable std::unique_ptr<const LaterColumns> later_;
  mutable std::optional<LoadError> later_error_;
};

}  // namespace sunindex::timeline
