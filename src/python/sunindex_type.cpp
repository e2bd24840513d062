// The Sunindex class: object layout, borrow rules, constructors, methods and
// the type object made from its slots and method table.

#include "python/sunindex_type.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <string_view>
#include <variant>
#include <vector>

#include "python/args.hpp"
#include "python/convert.hpp"
#include "python_common/guard.hpp"
#include "python/numpy_export.hpp"
#include "python/read_whole_file.hpp"
#include "readers/celestrak_csv.hpp"
#include "readers/dtcfile.hpp"
#include "readers/solfsmy.hpp"
#include "store/index_store.hpp"

namespace sunindex::python {
namespace {

// ---------------------------------------------------------------------------
// Object layout

using BorrowState = std::atomic<std::uintptr_t>;
constexpr std::uintptr_t exclusively_borrowed = std::numeric_limits<std::uintptr_t>::max();

struct SunindexObject {
  PyObject_HEAD
  IndexStore* store;         // owned; never null once the constructor returns
  BorrowState borrow_state;  // 0 free, n > 0 shared borrows, all bits set exclusive
};

/// The type object, created once per process at module initialisation.
PyTypeObject* sunindex_type = nullptr;

SunindexObject* as_sunindex(PyObject* object) noexcept {
  return sunindex_type != nullptr && Py_IS_TYPE(object, sunindex_type) ? reinterpret_cast<SunindexObject*>(object)
                                                                        : nullptr;
}

// ---------------------------------------------------------------------------
// Borrows: a refused borrow raises instead of waiting, since the holder may
// be this very thread further up the stack.

/// A shared or exclusive borrow of one object, released when it goes out of
/// scope. Empty (false) when refused, with RuntimeError set.
class Borrow {
 public:
  static Borrow shared(SunindexObject* object) noexcept {
    std::uintptr_t state = object->borrow_state.load(std::memory_order_relaxed);
    do {
      if (state >= exclusively_borrowed - 1) {
        PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
        return Borrow(nullptr, false);
      }
    } while (!object->borrow_state.compare_exchange_weak(state, state + 1, std::memory_order_acquire));
    return Borrow(object, false);
  }

  static Borrow exclusive(SunindexObject* object) noexcept {
    std::uintptr_t unborrowed = 0;
    if (!object->borrow_state.compare_exchange_strong(unborrowed, exclusively_borrowed, std::memory_order_acquire)) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return Borrow(nullptr, true);
    }
    return Borrow(object, true);
  }

  Borrow(Borrow&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)), exclusive_(other.exclusive_) {}
  Borrow(const Borrow&) = delete;
  Borrow& operator=(const Borrow&) = delete;
  Borrow& operator=(Borrow&&) = delete;

  ~Borrow() {
    if (object_ == nullptr) return;
    if (exclusive_) {
      object_->borrow_state.store(0, std::memory_order_release);
    } else {
      object_->borrow_state.fetch_sub(1, std::memory_order_release);
    }
  }

  /// A borrow that was never taken, for a receiver of the wrong type.
  static Borrow none() noexcept { return Borrow(nullptr, false); }

  explicit operator bool() const noexcept { return object_ != nullptr; }
  IndexStore& store() const noexcept { return *object_->store; }

 private:
  Borrow(SunindexObject* object, bool exclusive) noexcept : object_(object), exclusive_(exclusive) {}
  SunindexObject* object_;
  bool exclusive_;
};

/// The receiver of an instance method, shared-borrowed.
Borrow borrow_receiver_shared(PyObject* self) {
  SunindexObject* object = as_sunindex(self);
  if (object == nullptr) {
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'Sunindex'", Py_TYPE(self)->tp_name);
    return Borrow::none();
  }
  return Borrow::shared(object);
}

// ---------------------------------------------------------------------------
// Errors and results

PyObject* raise_value_error(const std::string& text) {
  PyErr_SetString(PyExc_ValueError, text.c_str());
  return nullptr;
}

/// "argument 'path': 'bytes' object cannot be converted to 'PyString'"
PyObject* raise_conversion_error(const char* argument, PyObject* object, const char* target) {
  PyRef type_name = PyRef::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!type_name) return nullptr;
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", argument,
               type_name.get(), target);
  return nullptr;
}

// ---------------------------------------------------------------------------
// Construction

/// A new object that owns `store`; empty with the exception set.
PyRef wrap_store(IndexStore store) {
  auto owned = std::make_unique<IndexStore>(std::move(store));
  PyRef object = PyRef::steal(sunindex_type->tp_alloc(sunindex_type, 0));
  if (!object) return {};
  auto* sunindex = reinterpret_cast<SunindexObject*>(object.get());
  new (&sunindex->borrow_state) BorrowState(0);
  sunindex->store = owned.release();
  return object;
}

using Reader = Result<std::vector<DailyIndices>> (*)(std::string_view, const ReadOptions&);

/// The one path of every constructor: bind `path`, read the file, parse it
/// with `reader`, build the store and wrap it.
PyObject* construct_from_file(const char* function, Reader reader, PyObject* const* args, Py_ssize_t nargsf,
                              PyObject* kwnames) {
  static constexpr std::array<const char*, 1> names{"path"};
  std::array<PyObject*, 1> bound{};
  if (!bind_arguments(function, names, args, nargsf, kwnames, bound)) return nullptr;
  PyObject* path = bound[0];
  if (!PyUnicode_Check(path)) return raise_conversion_error("path", path, "PyString");
  Py_ssize_t path_length = 0;
  const char* path_utf8 = PyUnicode_AsUTF8AndSize(path, &path_length);
  if (path_utf8 == nullptr) return nullptr;

  std::vector<DailyIndices> records;
  {
    auto content = read_whole_file({path_utf8, static_cast<std::size_t>(path_length)});
    if (auto* failure = std::get_if<FileError>(&content)) return raise_value_error(failure->message);
    auto parsed = reader(std::get<FileBytes>(content).view(), ReadOptions{});
    if (!parsed.ok()) return raise_value_error(parsed.error().text());
    records = std::move(parsed.value());
  }  // the file's bytes are released before the store is built
  return wrap_store(IndexStore::from_records(std::move(records))).release();
}

PyObject* from_celestrak_csv(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] {
    return construct_from_file("Sunindex.from_celestrak_csv()", parse_celestrak_csv, args, nargsf, kwnames);
  });
}

PyObject* from_set_solfsmy(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] {
    return construct_from_file("Sunindex.from_set_solfsmy()", parse_solfsmy, args, nargsf, kwnames);
  });
}

PyObject* from_set_dtcfile(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] {
    return construct_from_file("Sunindex.from_set_dtcfile()", parse_dtcfile, args, nargsf, kwnames);
  });
}

// ---------------------------------------------------------------------------
// Queries

PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    static constexpr std::array<const char*, 1> names{"date"};
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments("Sunindex.get()", names, args, nargsf, kwnames, bound)) return nullptr;
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return nullptr;
    const auto date = date_from_python(bound[0]);
    if (!date) return nullptr;
    const DailyIndices* record = borrow.store().get(*date);
    if (record == nullptr) Py_RETURN_NONE;
    DateMaker dates;
    return record_to_dict(*record, dates).release();
  });
}

PyObject* get_range(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    static constexpr std::array<const char*, 2> names{"start", "end"};
    std::array<PyObject*, 2> bound{};
    if (!bind_arguments("Sunindex.get_range()", names, args, nargsf, kwnames, bound)) return nullptr;
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return nullptr;
    const auto start = date_from_python(bound[0]);
    if (!start) return nullptr;
    const auto end = date_from_python(bound[1]);
    if (!end) return nullptr;
    const auto records = borrow.store().get_range(*start, *end);
    // The list is made at its final length and filled in order; a failure
    // part way releases it with every dict made so far.
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(records.size())));
    if (!list) return nullptr;
    DateMaker dates;
    for (std::size_t i = 0; i < records.size(); ++i) {
      PyRef dict = record_to_dict(records[i], dates);
      if (!dict) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), dict.release());
    }
    return list.release();
  });
}

PyObject* merge(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    static constexpr std::array<const char*, 1> names{"other"};
    std::array<PyObject*, 1> bound{};
    if (!bind_arguments("Sunindex.merge()", names, args, nargsf, kwnames, bound)) return nullptr;
    SunindexObject* receiver = as_sunindex(self);
    if (receiver == nullptr) {
      PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to 'Sunindex'", Py_TYPE(self)->tp_name);
      return nullptr;
    }
    const Borrow mine = Borrow::exclusive(receiver);
    if (!mine) return nullptr;
    SunindexObject* other = as_sunindex(bound[0]);
    if (other == nullptr) return raise_conversion_error("other", bound[0], "Sunindex");
    const Borrow theirs = Borrow::exclusive(other);
    if (!theirs) return nullptr;
    mine.store().merge(theirs.store());
    Py_RETURN_NONE;
  });
}

PyObject* len(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return nullptr;
    return PyLong_FromUnsignedLongLong(borrow.store().len());
  });
}

PyObject* date_range(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return nullptr;
    const auto span = borrow.store().date_range();
    if (!span) Py_RETURN_NONE;
    PyRef first = date_to_python(span->first);
    if (!first) return nullptr;
    PyRef last = date_to_python(span->second);
    if (!last) return nullptr;
    return PyTuple_Pack(2, first.get(), last.get());
  });
}

PyObject* to_numpy(PyObject* self, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return nullptr;
    return store_to_numpy(borrow.store()).release();
  });
}

// ---------------------------------------------------------------------------
// Slots

Py_ssize_t length(PyObject* self) noexcept {
  return guarded<Py_ssize_t>(-1, [&]() -> Py_ssize_t {
    const Borrow borrow = borrow_receiver_shared(self);
    if (!borrow) return -1;
    return static_cast<Py_ssize_t>(borrow.store().len());
  });
}

PyObject* refuse_direct_construction(PyTypeObject* type, PyObject*, PyObject*) noexcept {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
      PyErr_Clear();
      PyErr_SetString(PyExc_TypeError, "No constructor defined for <unknown>");
      return nullptr;
    }
    PyErr_Format(PyExc_TypeError, "No constructor defined for %U", name.get());
    return nullptr;
  });
}

void dealloc(PyObject* self) noexcept {
  auto* object = reinterpret_cast<SunindexObject*>(self);
  delete object->store;  // never throws: the store holds plain values
  PyTypeObject* type = Py_TYPE(self);
  type->tp_free(self);
  Py_DECREF(type);  // instances of a heap type hold a reference to it
}

// ---------------------------------------------------------------------------
// Type object: slots and method table

constexpr int fastcall_keywords = METH_FASTCALL | METH_KEYWORDS;

template <auto Function>
PyCFunction as_cfunction() noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(Function));
}

PyMethodDef methods[] = {
    {"from_celestrak_csv", as_cfunction<from_celestrak_csv>(), fastcall_keywords | METH_STATIC,
     "from_celestrak_csv(path)\n--\n\n"},
    {"from_set_solfsmy", as_cfunction<from_set_solfsmy>(), fastcall_keywords | METH_STATIC,
     "from_set_solfsmy(path)\n--\n\n"},
    {"from_set_dtcfile", as_cfunction<from_set_dtcfile>(), fastcall_keywords | METH_STATIC,
     "from_set_dtcfile(path)\n--\n\n"},
    {"get", as_cfunction<get>(), fastcall_keywords, "get($self, date)\n--\n\n"},
    {"get_range", as_cfunction<get_range>(), fastcall_keywords, "get_range($self, start, end)\n--\n\n"},
    {"merge", as_cfunction<merge>(), fastcall_keywords, "merge($self, other)\n--\n\n"},
    {"len", as_cfunction<len>(), METH_NOARGS, "len($self)\n--\n\n"},
    {"date_range", as_cfunction<date_range>(), METH_NOARGS, "date_range($self)\n--\n\n"},
    {"to_numpy", as_cfunction<to_numpy>(), METH_NOARGS, "to_numpy($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(refuse_direct_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_mp_length, reinterpret_cast<void*>(length)},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec spec = {
    "builtins.Sunindex",
    sizeof(SunindexObject),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

}  // namespace

PyRef create_sunindex_type() {
  if (sunindex_type != nullptr) return PyRef::borrow(reinterpret_cast<PyObject*>(sunindex_type));
  PyRef type = PyRef::steal(PyType_FromSpec(&spec));
  if (!type) {
    if (!PyErr_ExceptionMatches(PyExc_MemoryError)) {
      PyErr_SetString(PyExc_ImportError, "sunindex: could not create the class Sunindex");
    }
    return {};
  }
  sunindex_type = reinterpret_cast<PyTypeObject*>(PyRef::borrow(type.get()).release());  // kept for the process
  return type;
}

}  // namespace sunindex::python
