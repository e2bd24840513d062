#include "timeline/timeline.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <utility>

#include "common/concurrently.hpp"
#include "readers/dtcfile.hpp"
#include "readers/fixed_columns.hpp"
#include "readers/gfz_hpo.hpp"
#include "readers/gfz_kp.hpp"
#include "readers/legacy_text.hpp"
#include "readers/solfsmy.hpp"
#include "readers/swpc_forecast.hpp"
#include "timeline/merge.hpp"

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

/// What a reader gave for one file.
struct ParsedFile {
  Source source;
  std::string_view text;
  std::vector<DailyIndices> records;              // the CSV, the text file, SOLFSMY and DTCFILE
  std::vector<CelestrakRowExtras> celestrak;      // the CSV and the text file
  std::vector<SolfsmyRowExtras> solfsmy;
  std::vector<HourlyDtc> dtc_hourly;
  std::vector<GfzDay> gfz;
  std::vector<HpoInterval> hpo;
  std::optional<SwpcForecast> swpc;
  std::optional<std::int64_t> stamp_us;
};

/// A reader's result as the file's, or its error's text.
template <class T, class Take>
std::optional<std::string> take(Result<T> result, Take take) {
  if (!result.ok()) return result.error().text();
  take(std::move(result.value()));
  return std::nullopt;
}

/// Reads `file` by its kind's strict rules into `parsed`, the CSV's values
/// `csv_values` alone; the error's text on failure.
std::optional<std::string> read_file(const SourceText& file, const CelestrakValues& csv_values, ParsedFile& parsed) {
  parsed.source = file.source;
  parsed.text = file.text;
  const std::string_view text = file.text;
  const auto records = [&](std::vector<DailyIndices> r) { parsed.records = std::move(r); };
  switch (file.source) {
    case Source::csv: return take(parse_celestrak_csv(text, parsed.celestrak, strict, csv_values), records);
    case Source::solfsmy: return take(parse_solfsmy(text, parsed.solfsmy, strict), records);
    case Source::dtcfile: return take(parse_dtcfile(text, parsed.dtc_hourly, strict), records);
    case Source::txt:
      return take(parse_legacy_text(text, strict), [&](LegacyText legacy) {
        parsed.records = std::move(legacy.records);
        parsed.celestrak = std::move(legacy.extras);
        parsed.stamp_us = legacy.updated_us;
      });
    case Source::gfz: return take(parse_gfz_kp(text, strict), [&](std::vector<GfzDay> days) { parsed.gfz = std::move(days); });
    case Source::swpc:
      return take(parse_swpc_forecast(text), [&](SwpcForecast forecast) {
        parsed.stamp_us = forecast.issued_us;
        parsed.swpc = forecast;
      });
    case Source::hp30:
    case Source::hp60: {
      const HpoCadence cadence = file.source == Source::hp30 ? HpoCadence::minutes30 : HpoCadence::minutes60;
      return take(parse_gfz_hpo(text, cadence, strict), [&](std::vector<HpoInterval> v) { parsed.hpo = std::move(v); });
    }
    case Source::count: break;
  }
  return "not a kind of file a timeline reads";
}

/// Every file given, read by its kind's strict rules, or the error of the
/// first file given that a reader refuses. Two threads take the files in
/// turn, whatever their kinds.
std::optional<LoadError> read_all(std::span<const SourceText> files, const CelestrakValues& csv_values,
                                  std::vector<ParsedFile>& parsed) {
  parsed.resize(files.size());
  std::vector<std::optional<std::string>> errors(files.size());
  std::atomic<std::size_t> next{0};
  const auto read_in_turn = [&] {
    for (std::size_t f = next++; f < files.size(); f = next++) errors[f] = read_file(files[f], csv_values, parsed[f]);
  };
  run_concurrently(read_in_turn, read_in_turn);
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (errors[f]) return LoadError{files[f].source, f, std::move(*errors[f])};
  }
  return std::nullopt;
}

/// Calls `visit(day)` with the day number of each of a file's rows, in file order.
template <class Visit>
void for_each_day(const ParsedFile& file, const Visit& visit) {
  for (const DailyIndices& record : file.records) visit(record.date.to_days());
  for (const GfzDay& day : file.gfz) visit(day.date.to_days());
  for (const HpoInterval& interval : file.hpo) visit(interval.date.to_days());
  if (file.swpc) {
    const std::int64_t first = file.swpc->first_day.to_days();
    for (std::size_t d = 0; d < SwpcForecast::days; ++d) visit(first + static_cast<std::int64_t>(d));
  }
}

/// The line of the file that the `index`-th row for_each_day() visits was read from.
std::uint64_t row_of(const ParsedFile& file, std::size_t index) {
  switch (file.source) {
    case Source::csv:
    case Source::txt: return file.celestrak[index].row;
    case Source::solfsmy:
    case Source::dtcfile: return fixed_columns::row_of_record(file.text, index);
    case Source::gfz: return file.gfz[index].row;
    case Source::swpc: return file.swpc->first_row + index / 5;  // five days a line
    default: return file.hpo[index].row;
  }
}

/// The rows of every file of one kind, in the order given: the rows of one
/// date combine across them as within a file.
struct KindRows {
  std::vector<DailyIndices> records;
  std::vector<CelestrakRowExtras> celestrak;
  std::vector<SolfsmyRowExtras> solfsmy;
  std::vector<HourlyDtc> dtc_hourly;
  bool given = false;
};

template <class T>
void append(std::vector<T>& to, std::vector<T>& from) {
  if (to.empty()) {
    to = std::move(from);
  } else {
    to.insert(to.end(), std::make_move_iterator(from.begin()), std::make_move_iterator(from.end()));
  }
}

KindRows rows_of_kind(std::vector<ParsedFile>& files, Source source) {
  KindRows rows;
  for (ParsedFile& file : files) {
    if (file.source != source) continue;
    rows.given = true;
    append(rows.records, file.records);
    append(rows.celestrak, file.celestrak);
    append(rows.solfsmy, file.solfsmy);
    append(rows.dtc_hourly, file.dtc_hourly);
  }
  return rows;
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
          t_->mean_type_.assign(days, 0);
          t_->f107_source_.assign(days, no_source);
          t_->kp_status_.assign(days, -1);
        },
        [&] {
          t_->ap_3hr_.assign(8 * days, absent);
          t_->ap_source_.assign(8 * days, no_source);
          // 24 values a day of nothing would be a third of a CSV's timeline, and of its start.
          t_->dtc_hourly_.assign(spans[static_cast<std::size_t>(Source::dtcfile)] ? 24 * days : 0, absent);
          t_->solfsmy_source_.assign(days, no_flags);
          // The Hpo indices are 144 values a day: they take the days of their files alone.
          const std::optional<DaySpan> hpo = hpo_span_of(spans);
          const std::size_t hpo_days = hpo ? static_cast<std::size_t>(hpo->last - hpo->first + 1) : 0;
          t_->hpo_span_ = hpo;
          t_->hp30_.assign(48 * hpo_days, absent);
          t_->ap30_.assign(48 * hpo_days, absent);
          t_->hp60_.assign(24 * hpo_days, absent);
          t_->ap60_.assign(24 * hpo_days, absent);
        });
  }

  /// The days the Hp30 and Hp60 files cover together, from `spans` by kind.
  static std::optional<DaySpan> hpo_span_of(const std::array<std::optional<DaySpan>, source_count>& spans) noexcept {
    std::optional<DaySpan> hpo;
    for (const Source kind : {Source::hp30, Source::hp60}) {
      if (const auto& span = spans[static_cast<std::size_t>(kind)]) {
        widen(hpo, span->first);
        widen(hpo, span->last);
      }
    }
    return hpo;
  }

  /// The provenance and the means' types of a timeline whose only daily
  /// source is `source`, laid.
  void finish_single(Source source) noexcept {
    single_source(source, shape_.days_, t_->column(Column::f107_obs), t_->ap_3hr_.data(), t_->f107_source_.data(),
                  t_->ap_source_.data(), t_->kp_status_.data());
    for (std::size_t i = 0; i < shape_.days_; ++i) t_->mean_type_[i] = static_cast<std::uint8_t>(t_->data_type_[i]);
  }

  /// Lays the daily sources, read whole, and merges them: the CSV's rows (or
  /// the text file's, without a CSV) straight onto the timeline, the others
  /// beside it first.
  void merge(KindRows& csv, KindRows& txt, const std::vector<ParsedFile>& files) {
    const Source base = csv.given ? Source::csv : Source::txt;
    KindRows& base_rows = csv.given ? csv : txt;
    if (base_rows.given) add_csv(base_rows.records, base_rows.celestrak, CelestrakValues{});
    const bool gfz = std::any_of(files.begin(), files.end(), [](const ParsedFile& f) { return f.source == Source::gfz; });
    const bool swpc = std::any_of(files.begin(), files.end(), [](const ParsedFile& f) { return f.source == Source::swpc; });
    if (!gfz && !swpc && !(csv.given && txt.given)) return finish_single(base);

    std::vector<DailyLayer> layers;
    if (base_rows.given) layers.push_back(view(*t_, *later_, base));
    // The text file beside a CSV: laid on a timeline of its own first.
    Timeline txt_timeline;
    Timeline::LaterColumns txt_later;
    if (csv.given && txt.given) {
      auto daily_spans = t_->spans_;  // of the files laid there: no Hpo indices, no Dtc
      for (const Source other : {Source::hp30, Source::hp60, Source::dtcfile}) {
        daily_spans[static_cast<std::size_t>(other)] = std::nullopt;
      }
      TimelineBuilder(txt_timeline).allocate(daily_spans, shape_.first_day_, shape_.days_);
      txt_later.assign_absent(shape_.days_);
      TimelineBuilder(txt_timeline, txt_later).add_csv(txt.records, txt.celestrak, CelestrakValues{});
      layers.push_back(view(txt_timeline, txt_later, Source::txt));
    }
    OwnedLayer gfz_layer(gfz ? shape_.days_ : 0), swpc_layer(swpc ? shape_.days_ : 0);
    for (const ParsedFile& file : files) {
      if (file.source == Source::gfz) gfz_layer.add_gfz(file.gfz, shape_.first_day_);
      if (file.source == Source::swpc) swpc_layer.add_swpc(*file.swpc, shape_.first_day_);
    }
    if (gfz) {
      gfz_layer.fill_flux_gaps();
      layers.push_back(gfz_layer.view(Source::gfz));
    }
    if (swpc) layers.push_back(swpc_layer.view(Source::swpc));

    const std::vector<F107DataType> base_type = t_->data_type_;  // the merge rewrites it
    std::vector<std::uint8_t> flux_predicted(shape_.days_, 0);
    MergedDays out = merged();
    out.flux_predicted = flux_predicted.data();
    merge_layers(layers, shape_.days_, out);
    if (csv.given && txt.given) take_rows_of_txt(txt_timeline, txt_later, base_type);
    t_->mean_tails_ = compute_means(shape_.days_, shape_.first_day_, out, column_in(*t_, *later_, Column::f107_obs_center81),
                                    t_->mean_type_.data());
    note_merged_days(files);
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
    note_last_measured_solfsmy_day();
  }

  /// The last day with a flag other than '0' (spline-filled) or ' ' (no row).
  void note_last_measured_solfsmy_day() noexcept {
    const auto& flags = t_->solfsmy_source_;
    const auto measured = std::find_if(flags.rbegin(), flags.rend(), [](const std::array<char, 4>& day) {
      return std::ranges::any_of(day, [](char f) { return f != '0' && f != ' '; });
    });
    if (measured != flags.rend()) {
      t_->solfsmy_last_measured_ = shape_.first_day_ + static_cast<std::int64_t>(flags.rend() - measured) - 1;
    }
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

  /// A column's first cell in `timeline` and its `later` columns.
  static double* column_in(Timeline& timeline, Timeline::LaterColumns& later, Column c) noexcept {
    const std::size_t at = column_places[static_cast<std::size_t>(c)] * timeline.days_;
    // By data(): a timeline of no days has no cell to take the address of.
    return (laid(c) ? timeline.columns_.data() : later.columns.data()) + at;
  }

  /// A timeline laid from CSV rows as a layer of the merge.
  static DailyLayer view(Timeline& timeline, Timeline::LaterColumns& later, Source source) noexcept {
    return {source,
            column_in(timeline, later, Column::f107_obs),
            column_in(timeline, later, Column::f107_adj),
            column_in(timeline, later, Column::ap_avg),
            column_in(timeline, later, Column::isn),
            timeline.ap_3hr_.data(),
            later.kp_3hr.data(),
            timeline.data_type_.data()};
  }

  /// Where the merge writes: this timeline's cells.
  MergedDays merged() noexcept {
    return {column_in(*t_, *later_, Column::f107_obs), column_in(*t_, *later_, Column::f107_adj),
            column_in(*t_, *later_, Column::ap_avg), column_in(*t_, *later_, Column::isn),
            t_->ap_3hr_.data(), later_->kp_3hr.data(), t_->data_type_.data(),
            t_->f107_source_.data(), t_->ap_source_.data(), t_->kp_status_.data(), nullptr};
  }

  /// The text file's own columns beside a CSV: its 81-day means where its
  /// row gave the day's flux, and every other column of its row where the
  /// CSV has no row of the day (`csv_type`, before the merge).
  void take_rows_of_txt(Timeline& txt, Timeline::LaterColumns& txt_later, const std::vector<F107DataType>& csv_type) noexcept {
    const auto code = static_cast<std::uint8_t>(Source::txt);
    for (std::size_t e = 0; e < extra_columns.size(); ++e) {
      const Column column = extra_columns[e];
      if (column == Column::isn) continue;  // merged
      const auto extra = static_cast<CelestrakExtra>(e);
      const bool mean = extra == CelestrakExtra::f107_obs_center81 || extra == CelestrakExtra::f107_obs_last81 ||
                        extra == CelestrakExtra::f107_adj_center81 || extra == CelestrakExtra::f107_adj_last81;
      const double* from = column_in(txt, txt_later, column);
      for (std::size_t i = 0; i < shape_.days_; ++i) {
        if (mean ? t_->f107_source_[i] == code : csv_type[i] == F107DataType::unknown) cell(column, i) = from[i];
      }
    }
  }

  /// The days of GFZ and SWPC among the daily days, and the landmarks of the
  /// merged days: the last observed, and the first predicted after it (an
  /// older forecast's days before the observations end are not where the
  /// observations stop).
  void note_merged_days(const std::vector<ParsedFile>& files) noexcept {
    for (const ParsedFile& file : files) {
      if (file.swpc) {
        const std::int64_t first = file.swpc->first_day.to_days();
        widen(t_->daily_span_, first);
        widen(t_->daily_span_, first + static_cast<std::int64_t>(SwpcForecast::days) - 1);
      }
      if (!file.gfz.empty()) {  // in order of date
        widen(t_->daily_span_, file.gfz.front().date.to_days());
        widen(t_->daily_span_, file.gfz.back().date.to_days());
      }
    }
    t_->last_observed_ = t_->first_predicted_ = std::nullopt;
    for (std::size_t i = 0; i < shape_.days_; ++i) {
      const std::int64_t day = shape_.first_day_ + static_cast<std::int64_t>(i);
      const F107DataType type = t_->data_type_[i];
      if (type == F107DataType::observed) t_->last_observed_ = day, t_->first_predicted_ = std::nullopt;
      const bool predicted = type == F107DataType::predicted_daily || type == F107DataType::predicted_monthly;
      if (predicted && !t_->first_predicted_) t_->first_predicted_ = day;
    }
  }

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
    if (type != F107DataType::predicted_monthly) widen(t_->daily_span_, day);
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

/// The error for rows that together span `joint`, more than a timeline holds.
/// It names the row that stretches the span: of the earliest and the latest
/// day, the one farther from the median of every row's day (the earliest on
/// a tie), as a stray date lies far from the bulk of the rows whatever file
/// it is in; its first row among the files in the order given.
LoadError span_error(const std::vector<ParsedFile>& files, DaySpan joint) {
  std::vector<std::vector<std::int64_t>> file_days(files.size());
  std::vector<std::int64_t> days;
  for (std::size_t f = 0; f < files.size(); ++f) {
    for_each_day(files[f], [&](std::int64_t day) { file_days[f].push_back(day); });
    days.insert(days.end(), file_days[f].begin(), file_days[f].end());
  }
  const auto middle = days.begin() + static_cast<std::ptrdiff_t>(days.size() / 2);
  std::nth_element(days.begin(), middle, days.end());
  const std::int64_t stray = *middle - joint.first >= joint.last - *middle ? joint.first : joint.last;
  const std::string message =
      "its date and the other rows' dates span more than " + std::to_string(Timeline::max_days) + " days";
  for (std::size_t f = 0; f < files.size(); ++f) {
    const auto at = std::find(file_days[f].begin(), file_days[f].end(), stray);
    if (at != file_days[f].end()) {
      const auto index = static_cast<std::size_t>(at - file_days[f].begin());
      return LoadError{files[f].source, f, DataError::parse(row_of(files[f], index), message).text()};
    }
  }
  return LoadError{files.front().source, 0, message};  // not reached: some row has the stray day
}

/// Each file's first and last day, each kind's, and the days they cover together.
struct Spans {
  std::vector<std::optional<DaySpan>> of_file;
  std::array<std::optional<DaySpan>, source_count> of_source;
  std::optional<DaySpan> joint;  // none when no file has a row
};

/// The spans of the files' rows, or an error when together they span more
/// than a timeline holds.
Result<Spans, LoadError> spans_of(const std::vector<ParsedFile>& files) {
  Spans spans;
  for (const ParsedFile& file : files) {
    std::optional<DaySpan> span;
    for_each_day(file, [&](std::int64_t day) { widen(span, day); });
    spans.of_file.push_back(span);
    if (!span) continue;
    for (const std::int64_t end : {span->first, span->last}) {
      widen(spans.of_source[static_cast<std::size_t>(file.source)], end);
      widen(spans.joint, end);
    }
  }
  const auto& joint = spans.joint;
  if (joint && joint->last - joint->first >= Timeline::max_days) return span_error(files, *joint);
  return spans;
}

bool given(std::span<const SourceText> files, Source source) noexcept {
  return std::any_of(files.begin(), files.end(), [&](const SourceText& file) { return file.source == source; });
}

/// Whether the CSV is the only daily source: then its values beyond the
/// model inputs wait for all_columns(), and no merge is needed.
bool csv_alone(std::span<const SourceText> files) noexcept {
  return !given(files, Source::txt) && !given(files, Source::gfz) && !given(files, Source::swpc);
}

/// Lays each Hpo file's intervals, the first file that has a value giving
/// it, on arrays from `first_day`, the first of the Hpo files' days.
void lay_hpo(const std::vector<ParsedFile>& files, std::int64_t first_day, LargeArray<double>& hp30,
             LargeArray<double>& ap30, LargeArray<double>& hp60, LargeArray<double>& ap60) noexcept {
  for (const ParsedFile& file : files) {
    const bool is30 = file.source == Source::hp30;
    if (!is30 && file.source != Source::hp60) continue;
    const std::size_t per_day = intervals_per_day(is30 ? HpoCadence::minutes30 : HpoCadence::minutes60);
    LargeArray<double>& hp = is30 ? hp30 : hp60;
    LargeArray<double>& ap = is30 ? ap30 : ap60;
    for (const HpoInterval& interval : file.hpo) {
      const std::size_t cell = static_cast<std::size_t>(interval.date.to_days() - first_day) * per_day + interval.slot;
      if (std::isnan(hp[cell])) hp[cell] = interval.hp;
      if (std::isnan(ap[cell])) ap[cell] = interval.ap;
    }
  }
}

}  // namespace

Result<Timeline, LoadError> Timeline::load(std::span<const SourceText> files) {
  const bool lazy = csv_alone(files);
  std::vector<ParsedFile> parsed;
  if (auto error = read_all(files, lazy ? csv_values_at_load : CelestrakValues{}, parsed)) return std::move(*error);
  auto spans = spans_of(parsed);
  if (!spans.ok()) return std::move(spans.error());

  Timeline timeline;
  const std::optional<DaySpan> days = spans.value().joint;
  TimelineBuilder(timeline).allocate(spans.value().of_source, days ? days->first : 0,
                                     days ? static_cast<std::size_t>(days->last - days->first + 1) : 0);
  timeline.file_spans_ = std::move(spans.value().of_file);
  for (const ParsedFile& file : parsed) {
    timeline.file_stamps_.push_back(file.stamp_us);
    auto& stamp = timeline.stamps_[static_cast<std::size_t>(file.source)];
    if (!stamp) stamp = file.stamp_us;
  }
  KindRows csv = rows_of_kind(parsed, Source::csv), txt = rows_of_kind(parsed, Source::txt);
  KindRows solfsmy = rows_of_kind(parsed, Source::solfsmy), dtcfile = rows_of_kind(parsed, Source::dtcfile);
  // Read whole, the merged sources' later values are laid now.
  Timeline::LaterColumns later;
  if (!lazy) later.assign_absent(timeline.days_);
  // The daily sources' cells and the other files' are apart: one thread lays each.
  run_concurrently(
      [&] {
        if (lazy) {
          if (csv.given) TimelineBuilder(timeline).add_csv(csv.records, csv.celestrak, csv_values_at_load);
          TimelineBuilder(timeline).finish_single(Source::csv);
        } else {
          TimelineBuilder(timeline, later).merge(csv, txt, parsed);
        }
      },
      [&] {
        TimelineBuilder builder(timeline);
        if (solfsmy.given) builder.add_solfsmy(solfsmy.records, solfsmy.solfsmy);
        if (dtcfile.given) builder.add_dtcfile(dtcfile.records, dtcfile.dtc_hourly);
        if (const auto hpo = timeline.hpo_span_) {
          lay_hpo(parsed, hpo->first, timeline.hp30_, timeline.ap30_, timeline.hp60_, timeline.ap60_);
        }
      });
  for (std::size_t f = 0; f < files.size(); ++f) {
    if (files[f].source == Source::csv) timeline.csv_texts_.emplace_back(f, files[f].text);
  }
  timeline.later_made_ = std::make_unique<std::once_flag>();
  if (!lazy) {
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
    std::vector<ParsedFile> parsed(csv_texts_.size());
    LaterColumns later;
    // The CSVs are read while their cells are written absent, as at load.
    run_concurrently(
        [&] {
          for (std::size_t c = 0; c < csv_texts_.size() && !later_error_; ++c) {
            const auto& [file, text] = csv_texts_[c];
            if (auto error = read_file({Source::csv, text}, later_values, parsed[c])) {
              later_error_ = LoadError{Source::csv, file, std::move(*error)};
            }
          }
        },
        [&] { later.assign_absent(days_); });
    if (later_error_) return;
    KindRows csv = rows_of_kind(parsed, Source::csv);
    TimelineBuilder(*this, later).add_csv(csv.records, csv.celestrak, later_values);
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
