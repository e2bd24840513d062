#pragma once

// A result's Python values, made from the core's table of its fields
// (timeline/result_fields.hpp): the keys, the arrays and the struct the core
// writes all follow the table, and the core's codes become text here, in one
// place, through data_type_names.

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <utility>

#include "python_common/py_ref.hpp"
#include "common/concurrently.hpp"
#include "timeline/result_fields.hpp"
#include "common/two_halves.hpp"

namespace sunindex::tools_python {

using python::PyRef;

/// How many data type codes a call may write: the CSV's own, or those and the
/// prediction's. The longest name among them is the width of the text.
inline constexpr std::size_t csv_type_codes = timeline::msfc_data_type;
inline constexpr std::size_t every_type_code = timeline::data_type_names.size();

/// A Python str of `text`.
PyRef text_object(std::string_view text);

/// Where the core writes one field of a result, and the array it ends in.
struct FieldArray {
  PyRef array;
  std::unique_ptr<unsigned char[]> codes;  // the core's codes or flags, for a text array; else none
  void* values = nullptr;                  // where the core writes: the array's data, or the codes

  /// Makes the array of `field` for `rows` leading extents, a data type's
  /// text `type_width` characters wide; false with the exception set.
  bool make(const timeline::Field& field, std::span<const std::size_t> rows, std::size_t type_width);
  /// Writes the text of rows [begin, end) of codes or flags into the array.
  void name(const timeline::Field& field, std::size_t begin, std::size_t end, std::size_t type_width) const noexcept;
};

/// The text width of the first `type_codes` data types: their longest name.
std::size_t type_width(std::size_t type_codes) noexcept;

/// Each data type's name as str, by code.
using TypeTexts = std::array<PyRef, timeline::data_type_names.size()>;
/// Makes `texts`; false with the exception set.
bool make_type_texts(TypeTexts& texts);

/// A field one wide of one epoch as a Python scalar, a data type's name
/// taken from `type_texts`; empty with the exception set.
PyRef scalar_object(const timeline::Field& field, const void* value, const TypeTexts& type_texts);

/// The struct whose members are `pointers`, in the order of `fields`.
template <class Output, const auto& fields, std::size_t... I>
Output output_of(const std::array<void*, fields.size()>& pointers, std::index_sequence<I...>) noexcept {
  return Output{static_cast<timeline::element_t<fields[I].element>*>(pointers[I])...};
}

/// The arrays of one call's result of `fields`, a row per epoch (or per
/// member and epoch).
template <const auto& fields>
class ResultArrays {
 public:
  /// Makes the arrays with `rows` leading extents (the epochs, or members
  /// and epochs); data types may be any of the first `type_codes`. False
  /// with the exception set.
  bool make(std::span<const std::size_t> rows, std::size_t type_codes = csv_type_codes) {
    type_width_ = type_width(type_codes);
    count_ = 1;
    for (const std::size_t extent : rows) count_ *= extent;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (!arrays_[f].make(fields[f], rows, type_width_)) return false;
    }
    return true;
  }

  /// The struct the core writes, Output's members being the table's fields.
  template <class Output>
  Output output() const noexcept {
    std::array<void*, fields.size()> pointers;
    for (std::size_t f = 0; f < fields.size(); ++f) pointers[f] = arrays_[f].values;
    return output_of<Output, fields>(pointers, std::make_index_sequence<fields.size()>());
  }

  /// Writes the text of the core's codes and flags into their arrays once
  /// every row is written; needs no interpreter lock.
  void name() const noexcept {
    const auto name_rows = [&](std::size_t begin, std::size_t end) noexcept {
      for (std::size_t f = 0; f < fields.size(); ++f) arrays_[f].name(fields[f], begin, end, type_width_);
    };
    // As the core writes a long result, in two halves: the fresh pages of the
    // text are most of the time, and two threads share them.
    if (count_ < timeline::rows_worth_two_threads) return name_rows(0, count_);
    run_concurrently([&]() noexcept { name_rows(0, count_ / 2); }, [&]() noexcept { name_rows(count_ / 2, count_); });
  }

  /// A new dict {key: array} in the table's order; empty with the exception set.
  PyRef dict() const {
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return dict;
    for (std::size_t f = 0; f < fields.size(); ++f) {
      PyRef key = text_object(fields[f].key);
      if (!key || PyDict_SetItem(dict.get(), key.get(), arrays_[f].array.get()) != 0) return PyRef();
    }
    return dict;
  }

 private:
  std::array<FieldArray, fields.size()> arrays_;
  std::size_t count_ = 0;       // rows
  std::size_t type_width_ = 0;  // characters of a data type's name
};

/// One epoch's result of `fields`: a Python scalar for a field one wide, an
/// array for a wider one, as a propagator's one-step call wants them.
template <const auto& fields>
class ScalarResult {
 public:
  /// Makes the arrays of the fields wider than one; false with the exception set.
  bool make() {
    constexpr std::array<std::size_t, 0> no_rows{};
    for (std::size_t f = 0; f < fields.size(); ++f) {
      if (fields[f].width == 1) {
        pointers_[f] = &values_[f];
      } else if (!arrays_[f].make(fields[f], no_rows, 0)) {
        return false;
      } else {
        pointers_[f] = arrays_[f].values;
      }
    }
    return true;
  }

  template <class Output>
  Output output() const noexcept {
    return output_of<Output, fields>(pointers_, std::make_index_sequence<fields.size()>());
  }

  /// Sets dict[keys[f]] to field f's value, once the core has written them;
  /// false with the exception set.
  bool fill(PyObject* dict, const std::array<PyRef, fields.size()>& keys, const TypeTexts& type_texts) const {
    for (std::size_t f = 0; f < fields.size(); ++f) {
      PyRef value = fields[f].width == 1 ? scalar_object(fields[f], &values_[f], type_texts)
                                         : PyRef::borrow(arrays_[f].array.get());
      if (!value || PyDict_SetItem(dict, keys[f].get(), value.get()) != 0) return false;
    }
    return true;
  }

 private:
  /// Room for one value of any element.
  union Value {
    double float64;
    std::int64_t int64;
    bool boolean;
    std::uint8_t data_type;
    std::array<char, 4> flags;
    std::int8_t int8;
  };

  std::array<Value, fields.size()> values_{};
  std::array<FieldArray, fields.size()> arrays_;
  std::array<void*, fields.size()> pointers_{};
};

}  // namespace sunindex::tools_python
