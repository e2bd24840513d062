#include "tools_binding/arrays.hpp"

#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>

#include <array>

namespace sunindex::tools_python {

bool load_numpy() { return PyArray_ImportNumPyAPI() == 0; }

PyRef new_array(Element element, std::initializer_list<std::size_t> shape) {
  std::array<npy_intp, 3> dimensions{};
  int rank = 0;
  for (const std::size_t extent : shape) dimensions[rank++] = static_cast<npy_intp>(extent);
  int type = NPY_DOUBLE;
  int item_size = 0;  // implied by the type, but for text
  switch (element) {
    case Element::float64: type = NPY_DOUBLE; break;
    case Element::int64: type = NPY_INT64; break;
    case Element::boolean: type = NPY_BOOL; break;
    case Element::text3: type = NPY_UNICODE, item_size = 3 * 4; break;
    case Element::text4: type = NPY_UNICODE, item_size = 4 * 4; break;
  }
  return PyRef::steal(
      PyArray_New(&PyArray_Type, rank, dimensions.data(), type, nullptr, nullptr, item_size, 0, nullptr));
}

void* array_data(const PyRef& array) noexcept {
  return PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get()));
}

}  // namespace sunindex::tools_python
