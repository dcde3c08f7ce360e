#include "bindings.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace {

namespace pyd = py::detail;

// Element views and the list operations that move elements
// ---------------------------------------------------------
//
// `v[i]` of a VectorHit or VectorHitFeatures is a Python object viewing the element in place
// (pybind11 registers it under the element's address).  An operation that moves elements (a
// reallocation, an insertion, a removal) would leave such a view pointing into freed or shifted
// storage, so the operations below re-point the views they move, as Python's own list would:
//
// - a view follows its element: after `insert(0, x)` the view of the old first element is the
//   view of `v[1]`; after a reallocation it views the same index in the new storage;
// - a view of an element that is removed (`pop`, `del`, `clear`) is detached: it keeps the
//   element's last value in storage of its own (kept alive by the view) and no longer changes
//   the list.
//
// The views of a list are found through pybind11's registry of instances by address, so taking
// `v[i]` costs nothing extra; an operation pays one lookup per element it moves (an append only
// when it reallocates), i.e. no more than the move itself.

/// A Python object viewing element `index` of a list.
struct View {
    pyd::instance* instance;
    std::size_t index;
};

template <class T>
const pyd::type_info& record_type() {
    static const pyd::type_info* const info = pyd::get_type_info(typeid(T), true);
    return *info;
}

/// Views of the elements of `list` from `first` on, in no particular order.  Only objects of the
/// element's exact bound type are views: nothing else is registered inside a list's storage.
template <class T>
std::vector<View> views_of(const std::vector<T>& list, std::size_t first) {
    std::vector<View> views;
    if (first >= list.size()) {
        return views;
    }
    PyTypeObject* const type = record_type<T>().type;
    const auto take = [&](const void* address, pyd::instance* instance) {
        const auto offset = reinterpret_cast<std::uintptr_t>(address) -
                            reinterpret_cast<std::uintptr_t>(list.data());
        if (Py_TYPE(instance) == type && offset % sizeof(T) == 0) {
            views.push_back({instance, offset / sizeof(T)});
        }
    };
#ifndef Py_GIL_DISABLED
    // One registry: scan whichever is smaller, the registry or the moved part of the list.
    pyd::instance_map& registry = pyd::get_internals().registered_instances;
    if (registry.size() < list.size() - first) {
        const auto lo = reinterpret_cast<std::uintptr_t>(list.data() + first);
        const auto hi = reinterpret_cast<std::uintptr_t>(list.data() + list.size());
        for (const auto& [address, instance] : registry) {
            const auto at = reinterpret_cast<std::uintptr_t>(address);
            if (at >= lo && at < hi) {
                take(address, instance);
            }
        }
        return views;
    }
#endif
    for (std::size_t i = first; i < list.size(); ++i) {
        pyd::with_instance_map(&list[i], [&](pyd::instance_map& registry_shard) {
            const auto [begin, end] = registry_shard.equal_range(&list[i]);
            for (auto entry = begin; entry != end; ++entry) {
                take(entry->first, entry->second);
            }
        });
    }
    return views;
}

/// Makes `view` view the record at `target` instead.
template <class T>
void repoint(const View& view, T* target) {
    const pyd::type_info& info = record_type<T>();
    auto value = view.instance->get_value_and_holder(&info);
    pyd::deregister_instance(view.instance, value.value_ptr(), &info);
    value.value_ptr() = target;
    pyd::register_instance(view.instance, target, &info);
}

/// Gives `view` a copy of `record` of its own, owned by a capsule that the view keeps alive.
template <class T>
void detach(const View& view, const T& record) {
    auto copy = std::make_unique<T>(record);
    T* target = copy.get();
    py::capsule owner(copy.release(), [](void* p) { delete static_cast<T*>(p); });
    repoint(view, target);
    pyd::add_patient(reinterpret_cast<PyObject*>(view.instance), owner.ptr());
}

/// Inserts `items` before position `at`, re-pointing the views it moves.
template <class T>
void insert_records(std::vector<T>& list, std::size_t at, std::vector<T>&& items) {
    if (items.empty()) {
        return;
    }
    const bool reallocates = list.capacity() - list.size() < items.size();
    // Without a reallocation only the elements from `at` on move; an append moves none.
    const std::vector<View> views = views_of(list, reallocates ? 0 : at);
    const auto offset = static_cast<std::ptrdiff_t>(at);
    list.insert(list.begin() + offset, std::make_move_iterator(items.begin()),
                std::make_move_iterator(items.end()));
    for (const View& view : views) {
        repoint(view, &list[view.index < at ? view.index : view.index + items.size()]);
    }
}

/// Erases the elements whose indices `removed` lists (ascending, distinct), detaching their
/// views and re-pointing the views of the elements that move down.
template <class T>
void erase_records(std::vector<T>& list, const std::vector<std::size_t>& removed) {
    if (removed.empty()) {
        return;
    }
    const std::vector<View> views = views_of(list, removed.front());
    std::vector<View> moved;
    for (const View& view : views) {
        if (std::binary_search(removed.begin(), removed.end(), view.index)) {
            detach(view, list[view.index]);
        } else {
            moved.push_back(view);
        }
    }
    // Compact in place: every kept element moves down by the number of removed ones before it.
    std::size_t out = removed.front();
    auto next_removed = removed.begin();
    for (std::size_t in = removed.front(); in < list.size(); ++in) {
        if (next_removed != removed.end() && *next_removed == in) {
            ++next_removed;
            continue;
        }
        if (out != in) {
            list[out] = std::move(list[in]);
        }
        ++out;
    }
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(out), list.end());
    for (const View& view : moved) {
        const auto before = static_cast<std::size_t>(
            std::lower_bound(removed.begin(), removed.end(), view.index) - removed.begin());
        repoint(view, &list[view.index - before]);
    }
}

/// Index of Python's list protocol (negative from the end) checked against `size`.
std::size_t wrap_index(std::ptrdiff_t i, std::size_t size) {
    const auto n = static_cast<std::ptrdiff_t>(size);
    if (i < 0) {
        i += n;
    }
    if (i < 0 || i >= n) {
        throw py::index_error();
    }
    return static_cast<std::size_t>(i);
}

/// Iterates by index, reading the list's size at each step: a list that grows or shrinks while
/// it is iterated is read where it is now, never through storage it no longer owns.
template <class Vector>
struct IndexIterator {
    Vector* list;
    std::size_t index;

    typename Vector::reference operator*() const { return (*list)[index]; }
    IndexIterator& operator++() {
        ++index;
        return *this;
    }
};

struct IndexSentinel {};

template <class Vector>
bool operator==(const IndexIterator<Vector>& it, IndexSentinel /*end*/) {
    return it.index >= it.list->size();
}

/// `__iter__` by index, for any of the three lists (records as views, samples by value).
template <class Vector, class Class, py::return_value_policy Policy, class Value>
void bind_index_iterator(Class& cls) {
    py::delattr(cls, "__iter__");
    cls.def(
        "__iter__",
        [](Vector& list) {
            return py::make_iterator<Policy, IndexIterator<Vector>, IndexSentinel, Value>(
                IndexIterator<Vector>{&list, 0}, IndexSentinel{});
        },
        py::keep_alive<0, 1>());
}

/// Replaces the operations of `bind_vector` that move or free elements of a list of records by
/// ones that keep the views of its elements valid (same names, arguments and docstrings).
template <class Vector, class Class>
void bind_record_modifiers(Class& cls) {
    using T = typename Vector::value_type;
    for (const char* name :
         {"append", "extend", "insert", "pop", "clear", "__setitem__", "__delitem__"}) {
        py::delattr(cls, name);
    }
    cls.def(
        "append",
        [](Vector& list, const T& x) { insert_records(list, list.size(), std::vector<T>{x}); },
        py::arg("x"), "Add an item to the end of the list");
    cls.def(
        "clear",
        [](Vector& list) {
            std::vector<std::size_t> all(list.size());
            for (std::size_t i = 0; i < all.size(); ++i) {
                all[i] = i;
            }
            erase_records(list, all);
        },
        "Clear the contents");
    cls.def(
        "extend",
        [](Vector& list, const Vector& other) {
            insert_records(list, list.size(), Vector(other));  // a copy: `other` may be `list`
        },
        py::arg("L"), "Extend the list by appending all the items in the given list");
    cls.def(
        "extend",
        [](Vector& list, const py::iterable& items) {
            // Converted in full first: the iterable may run Python code that reads the list, and
            // an item that does not convert leaves the list unchanged.
            Vector converted;
            for (py::handle item : items) {
                converted.push_back(item.cast<T>());
            }
            insert_records(list, list.size(), std::move(converted));
        },
        py::arg("L"), "Extend the list by appending all the items in the given list");
    cls.def(
        "insert",
        [](Vector& list, std::ptrdiff_t i, const T& x) {
            const auto n = static_cast<std::ptrdiff_t>(list.size());
            if (i < 0) {
                i += n;
            }
            if (i < 0 || i > n) {
                throw py::index_error();
            }
            insert_records(list, static_cast<std::size_t>(i), std::vector<T>{x});
        },
        py::arg("i"), py::arg("x"), "Insert an item at a given position.");
    cls.def(
        "pop",
        [](Vector& list) {
            if (list.empty()) {
                throw py::index_error();
            }
            T last = list.back();
            erase_records(list, {list.size() - 1});
            return last;
        },
        "Remove and return the last item");
    cls.def(
        "pop",
        [](Vector& list, std::ptrdiff_t i) {
            const std::size_t at = wrap_index(i, list.size());
            T item = list[at];
            erase_records(list, {at});
            return item;
        },
        py::arg("i"), "Remove and return the item at index ``i``");
    // Assignments change values in place and move nothing: the views stay where they are.
    cls.def("__setitem__", [](Vector& list, std::ptrdiff_t i, const T& t) {
        list[wrap_index(i, list.size())] = t;
    });
    cls.def(
        "__setitem__",
        [](Vector& list, const py::slice& slice, const Vector& value) {
            std::size_t start = 0;
            std::size_t stop = 0;
            std::size_t step = 0;
            std::size_t length = 0;
            if (!slice.compute(list.size(), &start, &stop, &step, &length)) {
                throw py::error_already_set();
            }
            if (length != value.size()) {
                throw std::runtime_error(
                    "Left and right hand size of slice assignment have different sizes!");
            }
            const Vector source(value);  // a copy: `value` may be `list` itself
            for (std::size_t i = 0; i < length; ++i, start += step) {
                list[start] = source[i];
            }
        },
        "Assign list elements using a slice object");
    cls.def(
        "__delitem__",
        [](Vector& list, std::ptrdiff_t i) { erase_records(list, {wrap_index(i, list.size())}); },
        "Delete the list elements at index ``i``");
    cls.def(
        "__delitem__",
        [](Vector& list, const py::slice& slice) {
            py::ssize_t start = 0;
            py::ssize_t stop = 0;
            py::ssize_t step = 0;
            py::ssize_t length = 0;
            if (!slice.compute(static_cast<py::ssize_t>(list.size()), &start, &stop, &step,
                               &length)) {
                throw py::error_already_set();
            }
            std::vector<std::size_t> removed(static_cast<std::size_t>(length));
            for (std::size_t k = 0; k < removed.size(); ++k) {
                removed[k] = static_cast<std::size_t>(start + static_cast<py::ssize_t>(k) * step);
            }
            if (step < 0) {
                std::reverse(removed.begin(), removed.end());
            }
            erase_records(list, removed);
        },
        "Delete list elements using a slice object");
}

/// Binds `Vector` as an opaque list type and lets every argument declared as `Vector` also take
/// any Python iterable whose items convert to the element type (copied into a new vector for
/// the call).
template <class Vector>
auto bind_list(py::module_& m, const char* name) {
    auto cls = py::bind_vector<Vector>(m, name, py::module_local());
    py::implicitly_convertible<py::iterable, Vector>();
    return cls;
}

template <class Vector>
void bind_record_list(py::module_& m, const char* name) {
    using T = typename Vector::value_type;
    auto cls = bind_list<Vector>(m, name);
    bind_record_modifiers<Vector>(cls);
    bind_index_iterator<Vector, decltype(cls), py::return_value_policy::reference_internal, T&>(
        cls);
}

}  // namespace

void register_vectors(py::module_& m) {
    bind_record_list<std::vector<tessel::HitFeatures>>(m, "VectorHitFeatures");
    bind_record_list<std::vector<tessel::Hit>>(m, "VectorHit");
    // Samples are returned by value: no views, only the iterator needs to survive a reallocation.
    using Samples = std::vector<std::uint16_t>;
    auto samples = bind_list<Samples>(m, "VectorUInt16");
    bind_index_iterator<Samples, decltype(samples), py::return_value_policy::copy, std::uint16_t>(
        samples);
}
