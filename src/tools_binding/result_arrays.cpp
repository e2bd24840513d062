#include "tools_binding/result_arrays.hpp"

#include <algorithm>

#include "timeline/timeline.hpp"
#include "tools_binding/arrays.hpp"

namespace sunindex::tools_python {
namespace {

using timeline::Element;
using timeline::Field;

/// The characters of a field's text, for the elements written as text.
constexpr std::size_t flags_width = std::tuple_size_v<timeline::element_t<Element::flags>>;
constexpr std::size_t longest_type_name = [] {
  std::size_t longest = 0;
  for (const std::string_view name : timeline::data_type_names) longest = std::max(longest, name.size());
  return longest;
}();

/// Each data type's name as UCS-4, padded with NUL to the longest: NumPy's
/// text layout, so that a row's text is one copy.
constexpr auto type_texts = [] {
  std::array<std::array<char32_t, longest_type_name>, timeline::data_type_names.size()> texts{};
  for (std::size_t code = 0; code < texts.size(); ++code) {
    const std::string_view name = timeline::data_type_names[code];
    for (std::size_t i = 0; i < name.size(); ++i) texts[code][i] = static_cast<char32_t>(name[i]);
  }
  return texts;
}();

/// A value's source as text: the key of a daily source, at most this wide,
/// or none.
constexpr std::size_t source_width = 4;
static_assert([] {
  for (const auto source : {timeline::Source::csv, timeline::Source::txt, timeline::Source::gfz, timeline::Source::swpc}) {
    if (timeline::source_keys[static_cast<std::size_t>(source)].size() > source_width) return false;
  }
  return true;
}(), "a daily source's key fits the text of a value's source");

/// The key of source code `code` as UCS-4, NUL-padded to source_width; none for no_source.
void write_source(std::uint8_t code, char32_t* text) noexcept {
  std::fill_n(text, source_width, 0);
  if (code >= timeline::source_count) return;
  const std::string_view key = timeline::source_keys[code];
  for (std::size_t i = 0; i < std::min(key.size(), source_width); ++i) text[i] = static_cast<char32_t>(key[i]);
}

/// The bytes of one value of `element`.
std::size_t element_size(Element element) noexcept {
  switch (element) {
    case Element::float64: return sizeof(timeline::element_t<Element::float64>);
    case Element::int64: return sizeof(timeline::element_t<Element::int64>);
    case Element::boolean: return sizeof(timeline::element_t<Element::boolean>);
    case Element::data_type: return sizeof(timeline::element_t<Element::data_type>);
    case Element::flags: return sizeof(timeline::element_t<Element::flags>);
    case Element::int8: return sizeof(timeline::element_t<Element::int8>);
    case Element::source: return sizeof(timeline::element_t<Element::source>);
  }
  return 0;
}

/// Flags as text: a space pads a short field (no flag is a space), and NUL,
/// which pads NumPy's text, stands for it.
void write_flags(const std::array<char, flags_width>& flags, char32_t* text) noexcept {
  for (std::size_t i = 0; i < flags_width; ++i) text[i] = flags[i] == ' ' ? 0 : static_cast<char32_t>(flags[i]);
}

/// The names of rows [begin, end) of data type codes, `width` characters each.
template <std::size_t width>
void write_type_names(const unsigned char* codes, std::size_t begin, std::size_t end, char32_t* text) noexcept {
  for (std::size_t row = begin; row < end; ++row) std::copy_n(type_texts[codes[row]].begin(), width, text + row * width);
}

}  // namespace

PyRef text_object(std::string_view text) {
  return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

std::size_t type_width(std::size_t type_codes) noexcept {
  std::size_t width = 0;
  for (std::size_t code = 0; code < type_codes; ++code) width = std::max(width, timeline::data_type_names[code].size());
  return width;
}

bool FieldArray::make(const Field& field, std::span<const std::size_t> rows, std::size_t type_width) {
  std::array<std::size_t, 3> shape{};
  std::copy(rows.begin(), rows.end(), shape.begin());
  std::size_t rank = rows.size(), count = field.width;
  for (const std::size_t extent : rows) count *= extent;
  if (field.width > 1) shape[rank++] = field.width;
  const std::span<const std::size_t> extents(shape.data(), rank);
  switch (field.element) {
    case Element::float64: array = new_array(ArrayType::float64, extents); break;
    case Element::int64: array = new_array(ArrayType::int64, extents); break;
    case Element::boolean: array = new_array(ArrayType::boolean, extents); break;
    case Element::data_type: array = new_array(ArrayType::text, extents, type_width); break;
    case Element::flags: array = new_array(ArrayType::text, extents, flags_width); break;
    case Element::int8: array = new_array(ArrayType::int8, extents); break;
    case Element::source: array = new_array(ArrayType::text, extents, source_width); break;
  }
  if (!array) return false;
  if (field.element == Element::data_type || field.element == Element::flags || field.element == Element::source) {
    codes.reset(new unsigned char[count * element_size(field.element)]);
    values = codes.get();
  } else {
    values = array_data(array);
  }
  return true;
}

void FieldArray::name(const Field& field, std::size_t begin, std::size_t end, std::size_t type_width) const noexcept {
  auto* text = static_cast<char32_t*>(array_data(array));
  if (field.element == Element::data_type) {
    // A width known to the compiler makes each row's text a few stores.
    static_assert(longest_type_name == 4, "a data type's text is 3 or 4 characters wide");
    if (type_width == 3) {
      write_type_names<3>(codes.get(), begin, end, text);
    } else {
      write_type_names<4>(codes.get(), begin, end, text);
    }
  } else if (field.element == Element::flags) {
    const auto* flags = reinterpret_cast<const std::array<char, flags_width>*>(codes.get());
    for (std::size_t row = begin; row < end; ++row) write_flags(flags[row], text + row * flags_width);
  } else if (field.element == Element::source) {
    for (std::size_t value = begin * field.width; value < end * field.width; ++value) {
      write_source(codes[value], text + value * source_width);
    }
  }
}

bool make_type_texts(TypeTexts& texts) {
  for (std::size_t code = 0; code < texts.size(); ++code) {
    texts[code] = text_object(timeline::data_type_names[code]);
    if (!texts[code]) return false;
  }
  return true;
}

PyRef scalar_object(const Field& field, const void* value, const TypeTexts& type_texts) {
  switch (field.element) {
    case Element::float64: return PyRef::steal(PyFloat_FromDouble(*static_cast<const double*>(value)));
    case Element::int64: return PyRef::steal(PyLong_FromLongLong(*static_cast<const std::int64_t*>(value)));
    case Element::boolean: return PyRef::steal(PyBool_FromLong(*static_cast<const bool*>(value)));
    case Element::int8: return PyRef::steal(PyLong_FromLong(*static_cast<const std::int8_t*>(value)));
    case Element::source: {
      std::array<char32_t, source_width> text;
      write_source(*static_cast<const std::uint8_t*>(value), text.data());
      const auto length = static_cast<Py_ssize_t>(std::find(text.begin(), text.end(), 0) - text.begin());
      return PyRef::steal(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), length));
    }
    case Element::data_type: return PyRef::borrow(type_texts[*static_cast<const std::uint8_t*>(value)].get());
    case Element::flags: {
      std::array<char32_t, flags_width> text;
      write_flags(*static_cast<const std::array<char, flags_width>*>(value), text.data());
      const auto length = static_cast<Py_ssize_t>(std::find(text.begin(), text.end(), 0) - text.begin());
      return PyRef::steal(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.data(), length));
    }
  }
  return PyRef();
}

}  // namespace sunindex::tools_python
