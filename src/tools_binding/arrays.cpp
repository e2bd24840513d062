#include "tools_binding/arrays.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <array>

namespace sunindex::tools_python {

bool load_numpy() { return PyArray_ImportNumPyAPI() == 0; }

PyRef new_array(ArrayType type, std::span<const std::size_t> shape, std::size_t text_width) {
  std::array<npy_intp, 3> dimensions{};
  int rank = 0;
  for (const std::size_t extent : shape) dimensions[rank++] = static_cast<npy_intp>(extent);
  int numpy_type = NPY_DOUBLE;
  int item_size = 0;  // implied by the type, but for text
  switch (type) {
    case ArrayType::float64: numpy_type = NPY_DOUBLE; break;
    case ArrayType::int64: numpy_type = NPY_INT64; break;
    case ArrayType::int8: numpy_type = NPY_INT8; break;
    case ArrayType::boolean: numpy_type = NPY_BOOL; break;
    case ArrayType::text: numpy_type = NPY_UNICODE, item_size = static_cast<int>(4 * text_width); break;
  }
  return PyRef::steal(
      PyArray_New(&PyArray_Type, rank, dimensions.data(), numpy_type, nullptr, nullptr, item_size, 0, nullptr));
}

void* array_data(const PyRef& array) noexcept {
  return PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()));
}

}  // namespace sunindex::tools_python
