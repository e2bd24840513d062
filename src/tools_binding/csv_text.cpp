#include "tools_binding/csv_text.hpp"

#include <cstddef>
#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "python_common/guard.hpp"
#include "tools_binding/buffer_items.hpp"
#include "writers/csv_lines.hpp"

namespace sunindex::tools_python {
namespace {

using python::PyRef;
using writers::CsvColumn;

/// The buffer views of the columns, released together; a view also keeps its
/// array from being resized while the lines are written without the GIL.
class ColumnViews {
 public:
  explicit ColumnViews(std::size_t count) { views_.reserve(count); }  // so that no push_back throws
  ColumnViews(const ColumnViews&) = delete;
  ColumnViews& operator=(const ColumnViews&) = delete;
  ~ColumnViews() {
    for (Py_buffer& view : views_) PyBuffer_Release(&view);
  }

  /// Takes a view of `object`; false with the exception set.
  bool add(PyObject* object) {
    Py_buffer view;
    if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) != 0) return false;
    views_.push_back(view);
    return true;
  }

  const std::vector<Py_buffer>& views() const noexcept { return views_; }

 private:
  std::vector<Py_buffer> views_;
};

/// The kind of items `view` holds, when it is a column that can be printed.
std::optional<CsvColumn::Kind> column_kind(const Py_buffer& view) noexcept {
  if (view.ndim != 1) return std::nullopt;
  if (holds_texts(view)) return CsvColumn::Kind::ucs4;
  const std::string_view format = view.format != nullptr ? view.format : "B";
  if (format == "d" && view.itemsize == 8) return CsvColumn::Kind::float64;
  if ((format == "l" || format == "q") && view.itemsize == 8) return CsvColumn::Kind::int64;
  if (format == "b") return CsvColumn::Kind::int8;
  if (format == "?") return CsvColumn::Kind::boolean;
  return std::nullopt;
}

CsvColumn column_of(const Py_buffer& view, CsvColumn::Kind kind) noexcept {
  return {kind, static_cast<const std::byte*>(view.buf), view.strides[0],
          kind == CsvColumn::Kind::ucs4 ? static_cast<std::size_t>(view.itemsize) / 4 : 0};
}

/// The bytes of `rows` lines of `columns`; empty with MemoryError set when they overflow.
std::optional<std::size_t> lines_bound(std::span<const CsvColumn> columns, std::size_t rows) {
  const std::size_t line = writers::csv_line_bound(columns);
  if (rows > static_cast<std::size_t>(std::numeric_limits<Py_ssize_t>::max()) / line) {
    PyErr_NoMemory();
    return std::nullopt;
  }
  return line * rows;
}

PyObject* write_lines(std::span<const CsvColumn> columns, std::size_t first, std::size_t last) {
  const auto bound = lines_bound(columns, last - first);
  if (!bound) return nullptr;
  PyRef bytes = PyRef::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(*bound)));
  if (!bytes) return nullptr;
  writers::CsvWritten written;
  Py_BEGIN_ALLOW_THREADS
  written = writers::write_csv_lines(columns, first, last, {PyBytes_AS_STRING(bytes.get()), *bound});
  Py_END_ALLOW_THREADS
  if (written.failure) {
    PyErr_Format(PyExc_ValueError, "csv_lines: row %zu, column %zu holds a character no UTF-8 holds",
                 written.failure->row, written.failure->column);
    return nullptr;
  }
  PyObject* lines = bytes.release();  // a failed resize frees it
  if (_PyBytes_Resize(&lines, static_cast<Py_ssize_t>(written.bytes)) != 0) return nullptr;
  return lines;
}

}  // namespace

PyObject* csv_lines(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
  return python::guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    if (nargs != 3 || !PyTuple_Check(args[0])) {
      PyErr_SetString(PyExc_TypeError, "csv_lines(columns, first, last): columns a tuple of arrays");
      return nullptr;
    }
    const Py_ssize_t first = PyLong_AsSsize_t(args[1]);
    if (first == -1 && PyErr_Occurred()) return nullptr;
    const Py_ssize_t last = PyLong_AsSsize_t(args[2]);
    if (last == -1 && PyErr_Occurred()) return nullptr;
    ColumnViews views(static_cast<std::size_t>(PyTuple_GET_SIZE(args[0])));
    std::vector<CsvColumn> columns;
    for (Py_ssize_t index = 0; index < PyTuple_GET_SIZE(args[0]); ++index) {
      if (!views.add(PyTuple_GET_ITEM(args[0], index))) return nullptr;
      const Py_buffer& view = views.views().back();
      const auto kind = column_kind(view);
      if (!kind) {
        PyErr_Format(PyExc_TypeError, "csv_lines: column %zd is no 1-D float64, int64, int8, bool or str array "
                     "in this machine's byte order", index);
        return nullptr;
      }
      if (first < 0 || first > last || last > view.shape[0]) {
        PyErr_Format(PyExc_ValueError, "csv_lines: rows %zd to %zd lie beyond column %zd's %zd", first, last, index,
                     view.shape[0]);
        return nullptr;
      }
      columns.push_back(column_of(view, *kind));
    }
    return write_lines(columns, static_cast<std::size_t>(first), static_cast<std::size_t>(last));
  });
}

}  // namespace sunindex::tools_python
