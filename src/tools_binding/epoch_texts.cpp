#include "tools_binding/epoch_texts.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/utf8.hpp"
#include "python_common/guard.hpp"
#include "timeline/iso_epoch.hpp"
#include "tools_binding/arrays.hpp"
#include "tools_binding/buffer_items.hpp"

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

/// One item of a source of texts.
struct Item {
  enum class Kind {
    text,      // `utf8` holds it
    not_text,  // no str: the epochs are not all text
    failed,    // the exception is set
  };
  Kind kind;
  std::string_view utf8;
};

/// The str items of a list or tuple.
class ObjectTexts {
 public:
  explicit ObjectTexts(PyObject* const* items) noexcept : items_(items) {}

  /// Item `i` as UTF-8, valid until the next read. A lone surrogate has no
  /// UTF-8, yet datetime takes one as the date's separator (and refuses it
  /// anywhere else): it is read as the three bytes it would take, which no
  /// other rule of the parser accepts.
  Item read(std::size_t i) {
    PyObject* item = items_[i];
    if (!PyUnicode_Check(item)) return {Item::Kind::not_text, {}};
    Py_ssize_t size = 0;
    if (const char* bytes = PyUnicode_AsUTF8AndSize(item, &size)) return {Item::Kind::text, {bytes, std::size_t(size)}};
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return {Item::Kind::failed, {}};
    PyErr_Clear();
    encoded_ = PyRef::steal(PyUnicode_AsEncodedString(item, "utf-8", "surrogatepass"));
    if (!encoded_) return {Item::Kind::failed, {}};
    return {Item::Kind::text, {PyBytes_AS_STRING(encoded_.get()), std::size_t(PyBytes_GET_SIZE(encoded_.get()))}};
  }

  PyRef str(std::size_t i) const { return PyRef::borrow(items_[i]); }

 private:
  PyObject* const* items_;
  PyRef encoded_;
};

/// The items of a one-dimensional, C-ordered NumPy str array in this
/// machine's byte order: UCS-4 characters, a fixed number per item, the
/// trailing NULs padding.
class ArrayTexts {
 public:
  /// Takes `view`, one that holds_texts accepts, and releases it when done.
  explicit ArrayTexts(const Py_buffer& view) : view_(view), characters_(static_cast<std::size_t>(view.itemsize) / 4) {
    utf8_.reserve(characters_ * 4);
  }
  ArrayTexts(const ArrayTexts&) = delete;
  ArrayTexts& operator=(const ArrayTexts&) = delete;
  ~ArrayTexts() { PyBuffer_Release(&view_); }

  std::size_t count() const noexcept { return static_cast<std::size_t>(view_.shape[0]); }

  /// Item `i` in UTF-8 (a surrogate as its three bytes, as for a str), valid until the next read.
  Item read(std::size_t i) {
    const std::span<const char32_t> item = characters(i);
    utf8_.clear();
    for (const char32_t c : item) {
      char bytes[4];
      utf8_.append(bytes, static_cast<std::size_t>(put_utf8(bytes, c) - bytes));
    }
    return {Item::Kind::text, utf8_};
  }

  PyRef str(std::size_t i) const {
    const std::span<const char32_t> item = characters(i);
    return PyRef::steal(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, item.data(), Py_ssize_t(item.size())));
  }

 private:
  /// Item `i` without its padding.
  std::span<const char32_t> characters(std::size_t i) const noexcept {
    const auto* first = static_cast<const char32_t*>(view_.buf) + i * characters_;
    std::size_t size = characters_;
    while (size > 0 && first[size - 1] == 0) --size;
    return {first, size};
  }

  Py_buffer view_;
  std::size_t characters_;
  std::string utf8_;  // of the item last read
};

/// The (ticks, unit) pair of the `count` items of `texts`, or None when one is no str.
template <class Texts>
PyObject* parse_texts(Texts& texts, std::size_t count) {
  const std::size_t shape[] = {count};
  PyRef array = new_array(ArrayType::int64, shape);
  if (!array) return nullptr;
  TickColumn column({static_cast<std::int64_t*>(array_data(array)), count});
  for (std::size_t i = 0; i < count; ++i) {
    const Item item = texts.read(i);
    if (item.kind == Item::Kind::not_text) Py_RETURN_NONE;
    if (item.kind == Item::Kind::failed) return nullptr;
    auto epoch = timeline::parse_iso_epoch(item.utf8);
    if (!epoch.ok()) {
      if (PyRef text = texts.str(i)) raise_epoch_error(epoch.error(), text.get());
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

/// parse_texts of a NumPy str array; None for any other object.
PyObject* parse_array(PyObject* texts) {
  Py_buffer view;
  // C order and no strides asked: a strided array gives no such view.
  if (!PyObject_CheckBuffer(texts) || PyObject_GetBuffer(texts, &view, PyBUF_ND | PyBUF_FORMAT) != 0) {
    PyErr_Clear();
    Py_RETURN_NONE;
  }
  if (!holds_texts(view)) {
    PyBuffer_Release(&view);
    Py_RETURN_NONE;
  }
  ArrayTexts items(view);
  return parse_texts(items, items.count());
}

}  // namespace

PyObject* parse_epochs(PyObject*, PyObject* texts) noexcept {
  return python::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (PyUnicode_Check(texts)) {
      ObjectTexts items(&texts);
      return parse_texts(items, 1);
    }
    if (!PyList_Check(texts) && !PyTuple_Check(texts)) return parse_array(texts);
    ObjectTexts items(PySequence_Fast_ITEMS(texts));
    return parse_texts(items, static_cast<std::size_t>(PySequence_Fast_GET_SIZE(texts)));
  });
}

}  // namespace sunindex::tools_python
