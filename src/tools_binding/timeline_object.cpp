// The `Timeline` type: a loaded timeline and its model-input tables behind
// one pointer, with methods that compute over arrays of epoch ticks. The
// Python package checks and converts every argument; these methods trust
// their shapes but never their values.

#include "tools_binding/timeline_object.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "python_common/guard.hpp"
#include "common/concurrently.hpp"
#include "timeline/forecast.hpp"
#include "timeline/model_inputs.hpp"
#include "tools_binding/arrays.hpp"
#include "tools_binding/epoch_ticks.hpp"
#include "tools_binding/prediction_object.hpp"
#include "tools_binding/result_arrays.hpp"

namespace sunindex::tools_python {
namespace {

using python::guarded;
using timeline::Epochs;
using timeline::Source;
using timeline::TickClock;
using timeline::Timeline;

/// What one object owns: immutable once made, so any number of threads may
/// compute from it at once without the interpreter lock.
struct Loaded {
  PyRef files;  // the files' bytes: the timeline reads the CSV's again for its remaining values
  std::vector<PyRef> file_keys;  // each file's key, for summary()
  Timeline timeline;
  timeline::MsisInputs msis;
  timeline::Jb2008Inputs jb2008;
  // The MSIS keys as str, made once with the lock held: a propagator calls
  // msis_at() at every step, and new keys were a quarter of its time.
  std::array<PyRef, timeline::msis_fields.size()> msis_key_texts{};
  TypeTexts type_texts{};  // the same for its data types
  // The means left for the prediction, finished at its 50th percentile for
  // the calls without a percentile; made and read with the interpreter lock
  // held, for the prediction it holds alive.
  mutable PyRef median_for{};
  mutable std::vector<double> median_tails{};

  /// msis.tails() finished at the 50th percentile of `prediction`, the
  /// object `object`: kept for the first prediction asked for, made into
  /// `scratch` for another. Needs the interpreter lock; throws std::bad_alloc.
  std::span<const double> tails_at_median(PyObject* object, const timeline::SolarCyclePrediction& prediction,
                                          std::vector<double>& scratch) const {
    if (msis.tails().empty()) return {};
    if (median_for.get() == object) return median_tails;
    std::vector<double> means = timeline::finish_means(msis, prediction.days(), timeline::Percentile(50.0));
    if (median_for) return scratch = std::move(means);
    median_tails = std::move(means);
    median_for = PyRef::borrow(object);
    return median_tails;
  }

  /// The timeline with both models' tables, made side by side.
  static std::unique_ptr<Loaded> make(Timeline laid_out) {
    std::optional<timeline::MsisInputs> msis;
    std::optional<timeline::Jb2008Inputs> jb2008;
    run_concurrently([&] { msis.emplace(laid_out); }, [&] { jb2008.emplace(laid_out); });
    return std::unique_ptr<Loaded>(new Loaded{PyRef(), {}, std::move(laid_out), std::move(*msis), std::move(*jb2008)});
  }
};

struct TimelineObject {
  PyObject_HEAD
  Loaded* loaded;  // owned; never null once the object is handed out
};

const Loaded& loaded_of(PyObject* self) noexcept { return *reinterpret_cast<TimelineObject*>(self)->loaded; }

/// The files of load()'s argument, a tuple of (key, bytes) pairs; false
/// with TypeError for anything else. The tuple keeps the bytes alive.
bool files_argument(PyObject* argument, std::vector<timeline::SourceText>& files) {
  if (!PyTuple_Check(argument)) {
    PyErr_SetString(PyExc_TypeError, "load() takes a tuple of (key, bytes) pairs");
    return false;
  }
  for (Py_ssize_t f = 0; f < PyTuple_GET_SIZE(argument); ++f) {
    PyObject* pair = PyTuple_GET_ITEM(argument, f);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)) ||
        !PyBytes_Check(PyTuple_GET_ITEM(pair, 1))) {
      PyErr_SetString(PyExc_TypeError, "each file must be a (key, bytes) pair");
      return false;
    }
    Py_ssize_t length = 0;
    const char* key = PyUnicode_AsUTF8AndSize(PyTuple_GET_ITEM(pair, 0), &length);
    if (!key) return false;
    const auto known = std::ranges::find(timeline::source_keys, std::string_view(key, static_cast<std::size_t>(length)));
    if (known == timeline::source_keys.end()) {
      PyErr_Format(PyExc_TypeError, "unknown file key %R", PyTuple_GET_ITEM(pair, 0));
      return false;
    }
    PyObject* bytes = PyTuple_GET_ITEM(pair, 1);
    files.push_back({static_cast<Source>(known - timeline::source_keys.begin()),
                     std::string_view(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)))});
  }
  return true;
}

/// ValueError((index of the file among those given, text)): the package names the file.
void raise_load_error(const timeline::LoadError& error) {
  PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(error.text.data(), static_cast<Py_ssize_t>(error.text.size())));
  if (!text) return;
  PyRef args = PyRef::steal(Py_BuildValue("(nO)", static_cast<Py_ssize_t>(error.file), text.get()));
  if (args) PyErr_SetObject(PyExc_ValueError, args.get());
}

/// The clock argument: ticks per day, 1 to 86'400 * 10^9.
std::optional<TickClock> clock_argument(PyObject* object) {
  const long long ticks_per_day = PyLong_AsLongLong(object);
  if (ticks_per_day == -1 && PyErr_Occurred()) return std::nullopt;
  if (ticks_per_day < 1 || ticks_per_day > 86'400'000'000'000) {
    PyErr_SetString(PyExc_ValueError, "ticks per day must lie in 1 .. 86400 * 10**9");
    return std::nullopt;
  }
  return TickClock(ticks_per_day);
}

/// Whether a buffer's struct format is one element of type `code` in this
/// machine's byte order (no prefix, '@', '=', or the native one of '<', '>'
/// and '!'): another order would be read as other values. The item size is
/// checked apart.
bool native_element(std::string_view format, char code) noexcept {
  constexpr char native_prefix = std::endian::native == std::endian::little ? '<' : '>';
  if (format.starts_with('@') || format.starts_with('=') || format.starts_with(native_prefix) ||
      (native_prefix == '>' && format.starts_with('!'))) {
    format.remove_prefix(1);
  }
  return format.size() == 1 && format[0] == code;
}

/// A buffer held for as long as the handle lives.
class HeldBuffer {
 public:
  HeldBuffer() = default;
  HeldBuffer(const HeldBuffer&) = delete;
  HeldBuffer& operator=(const HeldBuffer&) = delete;
  ~HeldBuffer() {
    if (held_) PyBuffer_Release(&view_);
  }

  /// False with the exception set unless `object` exports a C-contiguous
  /// buffer of 8-byte items whose format is accepted by `is_element`.
  template <class IsElement>
  bool open(PyObject* object, const IsElement& is_element) {
    if (PyObject_GetBuffer(object, &view_, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) != 0) return false;
    held_ = true;
    return view_.itemsize == 8 && is_element(std::string_view(view_.format ? view_.format : "B"));
  }
  std::size_t count() const noexcept { return static_cast<std::size_t>(view_.len / 8); }
  const void* data() const noexcept { return view_.buf; }

 private:
  Py_buffer view_{};
  bool held_ = false;
};

/// The epochs of a method's first two arguments: an int64 buffer of ticks,
/// held for as long as the view lives, and the ticks per day.
class TickView {
 public:
  /// False with the exception set unless `ticks` is a C-contiguous int64
  /// buffer and `ticks_per_day` a valid clock.
  bool open(PyObject* ticks, PyObject* ticks_per_day) {
    clock_ = clock_argument(ticks_per_day);
    if (!clock_) return false;
    // 'l' is eight bytes only in native sizes, which the item size confirms.
    const auto int64 = [](std::string_view format) { return native_element(format, 'q') || native_element(format, 'l'); };
    if (!buffer_.open(ticks, int64)) {
      if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_TypeError, "epoch ticks must be a contiguous int64 array in native byte order");
      }
      return false;
    }
    return true;
  }
  std::size_t count() const noexcept { return buffer_.count(); }
  Epochs epochs() const noexcept { return {static_cast<const std::int64_t*>(buffer_.data()), count(), *clock_}; }

 private:
  std::optional<TickClock> clock_;
  HeldBuffer buffer_;
};

using Failed = std::optional<timeline::FailedEpoch>;

/// Runs `compute` with the interpreter lock released.
template <class Compute>
Failed without_lock(Compute compute) noexcept {
  Failed result;
  Py_BEGIN_ALLOW_THREADS
  result = compute();
  Py_END_ALLOW_THREADS
  return result;
}

/// The first epoch that got no values as (index, the reason's key), or None.
PyRef failure_object(const Failed& failed) {
  if (!failed) return PyRef::borrow(Py_None);
  const std::string_view why = timeline::epoch_failure_keys[static_cast<std::size_t>(failed->why)];
  return PyRef::steal(Py_BuildValue("(ns#)", static_cast<Py_ssize_t>(failed->index), why.data(),
                                    static_cast<Py_ssize_t>(why.size())));
}

/// `dict[keys[i]] = values[i]` for each i; false with the exception set.
template <std::size_t N>
bool set_items(PyObject* dict, const std::array<std::string_view, N>& keys, const std::array<PyRef, N>& values) {
  for (std::size_t i = 0; i < N; ++i) {
    PyRef key = text_object(keys[i]);
    if (!key || PyDict_SetItem(dict, key.get(), values[i].get()) != 0) return false;
  }
  return true;
}

/// The texts of `fields`' keys as str; false with the exception set.
template <std::size_t N>
bool make_texts(const std::array<timeline::Field, N>& fields, std::array<PyRef, N>& texts) {
  for (std::size_t i = 0; i < N; ++i) {
    texts[i] = text_object(fields[i].key);
    if (!texts[i]) return false;
  }
  return true;
}

/// ({key: array}, the first epoch that got no values and why, or None).
template <const auto& fields>
PyObject* keyed_results(const ResultArrays<fields>& arrays, const Failed& failed) {
  PyRef dict = arrays.dict();
  PyRef failure = failure_object(failed);
  if (!dict || !failure) return nullptr;
  return PyTuple_Pack(2, dict.get(), failure.get());
}

/// Runs `compute(out)` into `arrays` without the interpreter lock, and names
/// their codes when every row was written.
template <class Output, const auto& fields, class Compute>
Failed compute_into(const ResultArrays<fields>& arrays, Compute compute) noexcept {
  const Output out = arrays.template output<Output>();
  return without_lock([&] {
    const Failed failed = compute(out);
    if (!failed) arrays.name();
    return failed;
  });
}

template <std::size_t N>
bool all_made(const std::array<PyRef, N>& arrays) noexcept {
  for (const auto& array : arrays) {
    if (!array) return false;
  }
  return true;
}

/// The burst limit argument: None, or a number. Its bound (above 0) is
/// checked once, by SpaceWeather, whose message the user reads.
bool burst_limit_argument(PyObject* object, std::optional<double>& limit) {
  if (object == Py_None) return true;
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  limit = value;
  return true;
}

bool check_arity(const char* name, Py_ssize_t given, Py_ssize_t wanted) {
  if (given == wanted) return true;
  PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, wanted, given);
  return false;
}

// ---------------------------------------------------------------------------
// Methods

/// The data types an MSIS call may write: the CSV's, and MSFC where a mean
/// took the prediction.
std::size_t msis_type_codes(const Loaded& loaded) noexcept {
  return loaded.msis.tails().empty() ? csv_type_codes : every_type_code;
}

/// msis(ticks, ticks_per_day, burst_limit, interpolate, prediction) -> ({f107, f107a, ap, data_type}, failure)
PyObject* msis(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("msis", nargs, 5)) return nullptr;
    TickView view;
    std::optional<double> limit;
    if (!view.open(args[0], args[1]) || !burst_limit_argument(args[2], limit)) return nullptr;
    const int interpolate = PyObject_IsTrue(args[3]);
    if (interpolate < 0) return nullptr;
    const timeline::SolarCyclePrediction* prediction = prediction_of(args[4]);
    if (!prediction) return nullptr;
    const Loaded& loaded = loaded_of(self);
    std::vector<double> scratch;
    const std::span<const double> tails = loaded.tails_at_median(args[4], *prediction, scratch);
    const std::array rows{view.count()};
    ResultArrays<timeline::msis_fields> arrays;
    if (!arrays.make(rows, msis_type_codes(loaded))) return nullptr;
    const Epochs epochs = view.epochs();
    const Failed failed = compute_into<timeline::MsisOutput>(arrays, [&](const timeline::MsisOutput& out) {
      return interpolate ? loaded.msis.compute_interpolated(epochs, limit, out, tails)
                         : loaded.msis.compute(epochs, limit, out, tails);
    });
    return keyed_results(arrays, failed);
  });
}

/// msis_at(epoch, burst_limit, prediction) -> dict of scalars, or None outside coverage.
/// The one-epoch path a propagator calls at every step: no arrays in, and
/// no lock released for a few nanoseconds of work.
PyObject* msis_at(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("msis_at", nargs, 3)) return nullptr;
    const auto ticks = epoch_microseconds(args[0]);
    if (!ticks) return nullptr;
    std::optional<double> limit;
    if (!burst_limit_argument(args[1], limit)) return nullptr;
    const timeline::SolarCyclePrediction* prediction = prediction_of(args[2]);
    if (!prediction) return nullptr;
    const Loaded& loaded = loaded_of(self);
    std::vector<double> scratch;
    const std::span<const double> tails = loaded.tails_at_median(args[2], *prediction, scratch);
    ScalarResult<timeline::msis_fields> values;
    if (!values.make()) return nullptr;
    const Epochs epochs{&*ticks, 1, TickClock(microseconds_per_day)};
    if (loaded.msis.compute(epochs, limit, values.output<timeline::MsisOutput>(), tails)) Py_RETURN_NONE;
    PyRef result = PyRef::steal(PyDict_New());
    if (!result || !values.fill(result.get(), loaded.msis_key_texts, loaded.type_texts)) return nullptr;
    return result.release();
  });
}

/// jb2008(ticks, ticks_per_day) -> ({f10, f10b, s10, s10b, xm10, xm10b, y10, y10b, dstdtc}, failure)
PyObject* jb2008(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("jb2008", nargs, 2)) return nullptr;
    TickView view;
    if (!view.open(args[0], args[1])) return nullptr;
    const std::array rows{view.count()};
    ResultArrays<timeline::jb2008_fields> arrays;
    if (!arrays.make(rows)) return nullptr;
    const Epochs epochs = view.epochs();
    const Loaded& loaded = loaded_of(self);
    const Failed failed = compute_into<timeline::Jb2008Output>(
        arrays, [&](const timeline::Jb2008Output& out) { return loaded.jb2008.compute(epochs, out); });
    return keyed_results(arrays, failed);
  });
}

/// Every column of the timeline, the CSV values its load left for later
/// read on the first call, without the interpreter lock; none with the
/// Python error set on failure.
std::optional<timeline::AllColumns> all_columns(const Timeline& timeline) {
  std::optional<Result<timeline::AllColumns, timeline::LoadError>> all;
  bool out_of_memory = false;
  Py_BEGIN_ALLOW_THREADS
  try {
    all.emplace(timeline.all_columns());
  } catch (const std::bad_alloc&) {
    out_of_memory = true;
  }
  Py_END_ALLOW_THREADS
  if (out_of_memory) {
    PyErr_NoMemory();
    return std::nullopt;
  }
  if (!all->ok()) {
    raise_load_error(all->error());
    return std::nullopt;
  }
  return all->value();
}

/// daily(ticks, ticks_per_day) -> (dict of columns, failure). The day comes
/// back as int64 day numbers.
PyObject* daily(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("daily", nargs, 2)) return nullptr;
    TickView view;
    if (!view.open(args[0], args[1])) return nullptr;
    const std::array rows{view.count()};
    ResultArrays<timeline::daily_fields> arrays;
    if (!arrays.make(rows)) return nullptr;
    const Epochs epochs = view.epochs();
    const std::optional<timeline::AllColumns> all = all_columns(loaded_of(self).timeline);
    if (!all) return nullptr;
    const Failed failed = compute_into<timeline::DailyOutput>(
        arrays, [&](const timeline::DailyOutput& out) { return timeline::lookup_daily(*all, epochs, out); });
    return keyed_results(arrays, failed);
  });
}

/// hpo(ticks, ticks_per_day) -> ({hp30, ap30, hp60, ap60}, None)
PyObject* hpo(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("hpo", nargs, 2)) return nullptr;
    TickView view;
    if (!view.open(args[0], args[1])) return nullptr;
    const std::array rows{view.count()};
    ResultArrays<timeline::hpo_fields> arrays;
    if (!arrays.make(rows)) return nullptr;
    const Epochs epochs = view.epochs();
    const Timeline& timeline = loaded_of(self).timeline;
    const Failed failed = compute_into<timeline::HpoOutput>(arrays, [&](const timeline::HpoOutput& out) -> Failed {
      timeline::lookup_hpo(timeline, epochs, out);
      return std::nullopt;
    });
    return keyed_results(arrays, failed);
  });
}

// ---------------------------------------------------------------------------
// Forecast methods: the same epochs, with a prediction and percentiles

/// The percentiles argument: a contiguous float64 buffer; one Percentile
/// each, the quantile computed once per run of equal values. Their bound,
/// (0, 100), is checked once, by SpaceWeather, whose message the user reads.
bool percentiles_argument(PyObject* object, std::vector<timeline::Percentile>& percentiles) {
  HeldBuffer buffer;
  if (!buffer.open(object, [](std::string_view format) { return native_element(format, 'd'); })) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "percentiles must be a contiguous float64 array");
    return false;
  }
  const auto* values = static_cast<const double*>(buffer.data());
  percentiles.reserve(buffer.count());
  for (std::size_t i = 0; i < buffer.count(); ++i) {
    if (i > 0 && values[i] == values[i - 1]) {
      percentiles.push_back(percentiles.back());
    } else {
      percentiles.emplace_back(values[i]);
    }
  }
  return true;
}

/// The members of a call: paired with the epochs one to one, or every
/// percentile with every epoch; false with ValueError when pairs do not match.
bool members_argument(PyObject* paired, const std::vector<timeline::Percentile>& percentiles, std::size_t epochs,
                      timeline::Members& members) {
  const int is_paired = PyObject_IsTrue(paired);
  if (is_paired < 0) return false;
  members = {percentiles.data(), percentiles.size(), is_paired == 1};
  if (members.paired && percentiles.size() != epochs) {
    PyErr_SetString(PyExc_ValueError, "paired percentiles and epochs must be as many");
    return false;
  }
  return true;
}

/// The leading extents of a forecast's rows: (epochs) when paired, else (members, epochs).
struct MemberRows {
  std::array<std::size_t, 2> shape;
  std::size_t rank;
  std::span<const std::size_t> extents() const noexcept { return {shape.data(), rank}; }
};
MemberRows member_rows(const timeline::Members& members, std::size_t epochs) noexcept {
  if (members.paired) return {{epochs, 0}, 1};
  return {{members.count, epochs}, 2};
}

/// msis_forecast(prediction, ticks, ticks_per_day, percentiles, burst_limit, paired)
///   -> ({f107, f107a, ap, data_type}, failure)
/// Rows are (members, epochs), or one per epoch when paired; data_type is "<U4".
PyObject* msis_forecast(PyObject* self, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("msis_forecast", nargs, 6)) return nullptr;
    const timeline::SolarCyclePrediction* prediction = prediction_of(args[0]);
    TickView view;
    std::optional<double> limit;
    std::vector<timeline::Percentile> percentiles;
    timeline::Members members{};
    if (!prediction || !view.open(args[1], args[2]) || !percentiles_argument(args[3], percentiles) ||
        !burst_limit_argument(args[4], limit) || !members_argument(args[5], percentiles, view.count(), members)) {
      return nullptr;
    }
    ResultArrays<timeline::msis_fields> arrays;
    if (!arrays.make(member_rows(members, view.count()).extents(), every_type_code)) return nullptr;
    const timeline::ForecastDays& days = prediction->days();  // made here, where running out of memory can be told
    const Epochs epochs = view.epochs();
    const Loaded& loaded = loaded_of(self);
    const Failed failed = compute_into<timeline::MsisOutput>(arrays, [&](const timeline::MsisOutput& out) {
      return timeline::msis_with_forecast(loaded.msis, *prediction, days, epochs, limit, members, out);
    });
    return keyed_results(arrays, failed);
  });
}

/// forecast(prediction, ticks, ticks_per_day, percentiles, paired) -> ({f107, ap}, failure):
/// F(t) and A(t) from the prediction alone, rows as msis_forecast's.
PyObject* forecast(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("forecast", nargs, 5)) return nullptr;
    const timeline::SolarCyclePrediction* prediction = prediction_of(args[0]);
    TickView view;
    std::vector<timeline::Percentile> percentiles;
    timeline::Members members{};
    if (!prediction || !view.open(args[1], args[2]) || !percentiles_argument(args[3], percentiles) ||
        !members_argument(args[4], percentiles, view.count(), members)) {
      return nullptr;
    }
    ResultArrays<timeline::forecast_fields> arrays;
    if (!arrays.make(member_rows(members, view.count()).extents())) return nullptr;
    const timeline::ForecastDays& days = prediction->days();
    const std::int64_t first_day = prediction->first_day();
    const Epochs epochs = view.epochs();
    const Failed failed = compute_into<timeline::ForecastOutput>(arrays, [&](const timeline::ForecastOutput& out) {
      return timeline::forecast_values(days, first_day, epochs, members, out);
    });
    return keyed_results(arrays, failed);
  });
}

/// A day span as (first, last) day numbers, or None.
PyRef span_object(const std::optional<timeline::DaySpan>& span) {
  if (!span) return PyRef::borrow(Py_None);
  return PyRef::steal(Py_BuildValue("(LL)", static_cast<long long>(span->first), static_cast<long long>(span->last)));
}

PyRef int_or_none(const std::optional<std::int64_t>& value) {
  if (!value) return PyRef::borrow(Py_None);
  return PyRef::steal(PyLong_FromLongLong(*value));
}

bool set_object(PyObject* dict, const char* key, PyRef value) {
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

/// summary() -> dict of the spans and landmark days, as day numbers, and
/// each file's stamp, in microseconds since 1970.
PyObject* summary(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const Loaded& loaded = loaded_of(self);
    const Timeline& t = loaded.timeline;
    PyRef result = PyRef::steal(PyDict_New());
    PyRef spans = PyRef::steal(PyDict_New());
    if (!result || !spans) return nullptr;
    PyRef stamps = PyRef::steal(PyDict_New());
    if (!stamps) return nullptr;
    std::array<PyRef, timeline::source_count> source_spans, source_stamps;
    for (std::size_t s = 0; s < timeline::source_count; ++s) {
      source_spans[s] = span_object(t.span(static_cast<Source>(s)));
      source_stamps[s] = int_or_none(t.stamp_us(static_cast<Source>(s)));
    }
    if (!all_made(source_spans) || !set_items(spans.get(), timeline::source_keys, source_spans) ||
        !all_made(source_stamps) || !set_items(stamps.get(), timeline::source_keys, source_stamps)) {
      return nullptr;
    }
    PyRef files = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(t.file_count())));
    if (!files) return nullptr;
    for (std::size_t f = 0; f < t.file_count(); ++f) {
      PyRef span = span_object(t.file_span(f)), stamp = int_or_none(t.file_stamp_us(f));
      if (!span || !stamp) return nullptr;
      const PyRef& key = loaded.file_keys[f];
      PyObject* entry = PyTuple_Pack(3, key.get(), span.get(), stamp.get());
      if (!entry) return nullptr;
      PyTuple_SET_ITEM(files.get(), static_cast<Py_ssize_t>(f), entry);
    }
    if (!set_object(result.get(), "files", std::move(files)) ||
        !set_object(result.get(), "hpo", span_object(t.hpo_span())) ||
        !set_object(result.get(), "spans", std::move(spans)) || !set_object(result.get(), "stamps", std::move(stamps)) ||
        !set_object(result.get(), "timeline", span_object(t.day_span())) ||
        !set_object(result.get(), "msis", span_object(loaded.msis.coverage())) ||
        !set_object(result.get(), "jb2008", span_object(loaded.jb2008.coverage())) ||
        !set_object(result.get(), "last_observed", int_or_none(t.last_observed())) ||
        !set_object(result.get(), "first_predicted", int_or_none(t.first_predicted())) ||
        !set_object(result.get(), "solfsmy_measured", int_or_none(t.solfsmy_last_measured()))) {
      return nullptr;
    }
    return result.release();
  });
}

PyMethodDef methods[] = {
    {"msis", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(msis)), METH_FASTCALL,
     "msis(ticks, ticks_per_day, burst_limit, interpolate, prediction) -> (dict of f107, f107a, ap, data_type; failure)"},
    {"msis_at", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(msis_at)), METH_FASTCALL,
     "msis_at(epoch, burst_limit, prediction) -> dict, or None outside the coverage"},
    {"jb2008", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(jb2008)), METH_FASTCALL,
     "jb2008(ticks, ticks_per_day) -> (dict of f10, f10b, s10, s10b, xm10, xm10b, y10, y10b, dstdtc; failure)"},
    {"daily", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(daily)), METH_FASTCALL,
     "daily(ticks, ticks_per_day) -> (dict of columns, failure)"},
    {"hpo", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(hpo)), METH_FASTCALL,
     "hpo(ticks, ticks_per_day) -> (dict of hp30, ap30, hp60, ap60; None)"},
    {"msis_forecast", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(msis_forecast)), METH_FASTCALL,
     "msis_forecast(prediction, ticks, ticks_per_day, percentiles, burst_limit, paired) -> (dict of f107, f107a, ap, data_type; failure)"},
    {"forecast", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(forecast)), METH_FASTCALL,
     "forecast(prediction, ticks, ticks_per_day, percentiles, paired) -> (dict of f107, ap; failure)"},
    {"summary", summary, METH_NOARGS, "summary() -> dict of spans and landmark days, as day numbers"},
    {nullptr, nullptr, 0, nullptr},
};

void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<TimelineObject*>(self)->loaded;
  type->tp_free(self);
  Py_DECREF(type);
}

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_methods, methods},
    {Py_tp_doc, const_cast<char*>("The files on one daily timeline, with its model-input tables.")},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "sunindex_tools._native.Timeline",
    sizeof(TimelineObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    slots,
};

/// A load's result, made without the interpreter lock: nothing in it may
/// throw across the lock's release.
struct LoadOutcome {
  std::unique_ptr<Loaded> loaded;
  std::optional<timeline::LoadError> error;
  bool out_of_memory = false;
};

LoadOutcome load_outcome(std::span<const timeline::SourceText> files) noexcept {
  LoadOutcome outcome;
  try {
    auto result = Timeline::load(files);
    if (result.ok()) {
      outcome.loaded = Loaded::make(std::move(result.value()));
    } else {
      outcome.error = std::move(result.error());
    }
  } catch (const std::bad_alloc&) {
    outcome.out_of_memory = true;
  }
  return outcome;
}

}  // namespace

PyRef create_timeline_type(PyObject* module) {
  return PyRef::steal(PyType_FromModuleAndSpec(module, &type_spec, nullptr));
}

PyRef source_keys_tuple() {
  PyRef tuple = PyRef::steal(PyTuple_New(timeline::source_count));
  if (!tuple) return tuple;
  for (std::size_t s = 0; s < timeline::source_count; ++s) {
    PyRef key = text_object(timeline::source_keys[s]);
    if (!key) return key;
    PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(s), key.release());
  }
  return tuple;
}

PyObject* load_timeline(PyObject* module, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (!check_arity("load", nargs, 1)) return nullptr;
    std::vector<timeline::SourceText> files;
    if (!files_argument(args[0], files)) return nullptr;
    PyRef type = PyRef::steal(PyObject_GetAttrString(module, "Timeline"));
    if (!type) return nullptr;
    // The bytes objects are immutable and the arguments keep them alive.
    LoadOutcome outcome;
    Py_BEGIN_ALLOW_THREADS
    outcome = load_outcome(files);
    Py_END_ALLOW_THREADS
    if (outcome.out_of_memory) return PyErr_NoMemory();
    if (outcome.error) {
      raise_load_error(*outcome.error);
      return nullptr;
    }
    if (!make_texts(timeline::msis_fields, outcome.loaded->msis_key_texts) ||
        !make_type_texts(outcome.loaded->type_texts)) {
      return nullptr;
    }
    outcome.loaded->files = PyRef::borrow(args[0]);
    for (Py_ssize_t f = 0; f < PyTuple_GET_SIZE(args[0]); ++f) {
      outcome.loaded->file_keys.push_back(PyRef::borrow(PyTuple_GET_ITEM(PyTuple_GET_ITEM(args[0], f), 0)));
    }
    auto* heap_type = reinterpret_cast<PyTypeObject*>(type.get());
    PyObject* object = heap_type->tp_alloc(heap_type, 0);
    if (!object) return nullptr;
    reinterpret_cast<TimelineObject*>(object)->loaded = outcome.loaded.release();
    return object;
  });
}

}  // namespace sunindex::tools_python
