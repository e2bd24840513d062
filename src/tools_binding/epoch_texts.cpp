#include "tools_binding/epoch_texts.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "python_common/guard.hpp"
#include "timeline/iso_epoch.hpp"
#include "tools_binding/arrays.hpp"

namespace sunindex::tools_python {
namespace {

using timeline::IsoEpoch;
using timeline::IsoEpochError;

/// Raises the ValueError that `error` of `text` (a str) stands for.
void raise_epoch_error(IsoEpochError error, PyObject* text) {
  switch (error) {
    case IsoEpochError::not_iso_8601:
      PyErr_Format(PyExc_ValueError, "not an ISO 8601 epoch: %R", text);
      return;
    case IsoEpochError::too_many_digits:
      PyErr_Format(PyExc_ValueError, "epoch %R: more digits after the second than nanoseconds hold", text);
      return;
    case IsoEpochError::beyond_nanoseconds:
      PyErr_Format(PyExc_ValueError, "epoch %R out of the range of datetime64[ns]", text);
      return;
  }
}

/// The UTF-8 of a str. A lone surrogate has none, yet datetime takes one as
/// the date's separator (and refuses it anywhere else): it is read as the
/// three bytes it would take, which no other rule of the parser accepts.
/// None with the exception set when even that fails.
std::optional<std::string_view> utf8_of(PyObject* text, PyRef& holder) {
  Py_ssize_t size = 0;
  if (const char* bytes = PyUnicode_AsUTF8AndSize(text, &size)) return std::string_view(bytes, size);
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
  PyErr_Clear();
  holder = PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
  if (!holder) return std::nullopt;
  return std::string_view(PyBytes_AS_STRING(holder.get()), PyBytes_GET_SIZE(holder.get()));
}

/// The ticks of epochs in one unit: microseconds until an epoch needs
/// nanoseconds, then nanoseconds for all, those before it converted.
class TickColumn {
 public:
  explicit TickColumn(std::span<std::int64_t> ticks) noexcept : ticks_(ticks) {}

  void add(IsoEpoch epoch) noexcept {
    if (epoch.nanoseconds && !nanoseconds_) {
      nanoseconds_ = true;
      for (std::size_t i = 0; i < count_; ++i) ticks_[i] = in_nanoseconds(ticks_[i]);
    }
    ticks_[count_++] = nanoseconds_ && !epoch.nanoseconds ? in_nanoseconds(epoch.ticks) : epoch.ticks;
  }

  bool nanoseconds() const noexcept { return nanoseconds_; }
  /// Whether some epoch in microseconds lies beyond int64 nanoseconds.
  bool beyond_nanoseconds() const noexcept { return beyond_nanoseconds_; }

 private:
  std::int64_t in_nanoseconds(std::int64_t microseconds) noexcept {
    const auto nanoseconds = timeline::microseconds_to_nanoseconds(microseconds);
    beyond_nanoseconds_ |= !nanoseconds;
    return nanoseconds.value_or(timeline::not_a_time);
  }

  std::span<std::int64_t> ticks_;
  std::size_t count_ = 0;
  bool nanoseconds_ = false;
  bool beyond_nanoseconds_ = false;
};

/// The (ticks, unit) pair of `count` items, or None when one is no str.
PyObject* parse_items(PyObject* const* items, std::size_t count) {
  const std::size_t shape[] = {count};
  PyRef array = new_array(ArrayType::int64, shape);
  if (!array) return nullptr;
  TickColumn column({static_cast<std::int64_t*>(array_data(array)), count});
  for (std::size_t i = 0; i < count; ++i) {
    if (!PyUnicode_Check(items[i])) Py_RETURN_NONE;
    PyRef holder;
    const auto text = utf8_of(items[i], holder);
    if (!text) return nullptr;
    auto epoch = timeline::parse_iso_epoch(*text);
    if (!epoch.ok()) {
      raise_epoch_error(epoch.error(), items[i]);
      return nullptr;
    }
    column.add(epoch.value());
  }
  // Every text is read first, as one by one, so that a text's own fault is what is reported.
  if (column.beyond_nanoseconds()) {
    PyErr_SetString(PyExc_ValueError, "epoch out of the range of datetime64[ns]");
    return nullptr;
  }
  return Py_BuildValue("(Ns)", array.release(), column.nanoseconds() ? "ns" : "us");
}

}  // namespace

PyObject* parse_epochs(PyObject*, PyObject* texts) noexcept {
  return python::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (PyUnicode_Check(texts)) return parse_items(&texts, 1);
    if (!PyList_Check(texts) && !PyTuple_Check(texts)) Py_RETURN_NONE;
    return parse_items(PySequence_Fast_ITEMS(texts), static_cast<std::size_t>(PySequence_Fast_GET_SIZE(texts)));
  });
}

}  // namespace sunindex::tools_python
