#include "py_callable_reconstructor.hpp"

#include <stdexcept>
#include <utility>

PyCallableReconstructor::PyCallableReconstructor(py::function callable) noexcept
    : callable_(std::move(callable)) {}

void PyCallableReconstructor::reconstruct(const tessel::HitFeatures& features,
                                          tessel::Hit& hit) const {
    py::gil_scoped_acquire gil;
    // The callable works on copies: changing them has no effect unless it returns them.
    py::object result =
        callable_(py::cast(tessel::HitFeatures(features)), py::cast(tessel::Hit(hit)));
    if (result.is_none()) {
        throw std::runtime_error("");
    }
    try {
        hit = result.cast<tessel::Hit>();
    } catch (const py::cast_error& error) {
        throw std::runtime_error(error.what());
    }
}

PyCallableReconstructor::~PyCallableReconstructor() {
    // The owning HitMaker may be destroyed from C++ code that does not hold the lock.
    py::gil_scoped_acquire gil;
    callable_ = py::function();
}
