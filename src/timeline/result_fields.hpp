#pragma once

// The shape of a result, described once per result as a list of fields
// X(key, element, width): the key Python knows the field by, what the core
// writes for one value, and the values per row. Each output struct and each
// table of Field expand from that one list, so that the binding's arrays and
// keys, made from the table, always match the struct the core writes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "readers/celestrak_csv.hpp"

namespace sunindex::timeline {

/// What the core writes for one value of a field. Text is never written
/// here: a data type is a one-byte code, and the binding writes its name.
enum class Element : std::uint8_t {
  float64,    // double
  int64,      // std::int64_t
  boolean,    // bool
  data_type,  // std::uint8_t: a code of data_type_names
  flags,      // std::array<char, 4>: four characters, a space ending a shorter text
  int8,       // std::int8_t
  source,     // std::uint8_t: the code of the file a value came from (a timeline Source, or none)
};

template <Element>
struct ElementOf;
template <>
struct ElementOf<Element::float64> {
  using type = double;
};
template <>
struct ElementOf<Element::int64> {
  using type = std::int64_t;
};
template <>
struct ElementOf<Element::boolean> {
  using type = bool;
};
template <>
struct ElementOf<Element::data_type> {
  using type = std::uint8_t;
};
template <>
struct ElementOf<Element::flags> {
  using type = std::array<char, 4>;
};
template <>
struct ElementOf<Element::int8> {
  using type = std::int8_t;
};
template <>
struct ElementOf<Element::source> {
  using type = std::uint8_t;
};
/// The C++ type of one value of an Element.
template <Element element>
using element_t = typename ElementOf<element>::type;

/// One field of a result.
struct Field {
  std::string_view key;
  Element element;
  std::size_t width;  // values per row; 1 for no trailing axis
};

/// An output struct's member and a table's entry of X(key, element, width).
#define SUNINDEX_FIELD_POINTER(key, element, width) element_t<Element::element>* key;
#define SUNINDEX_FIELD(key, element, width) Field{#key, Element::element, width},

/// The data type a row reports, as a code: an F107DataType, or msfc_data_type
/// where the solar-cycle prediction gave its values.
inline constexpr std::uint8_t msfc_data_type = f107_data_type_names.size();
/// The name of each data type code: the CSV's F10.7_DATA_TYPE texts, then "MSFC".
inline constexpr auto data_type_names = [] {
  std::array<std::string_view, msfc_data_type + 1> names{};
  for (std::size_t code = 0; code < msfc_data_type; ++code) names[code] = f107_data_type_names[code];
  names[msfc_data_type] = "MSFC";
  return names;
}();

}  // namespace sunindex::timeline
