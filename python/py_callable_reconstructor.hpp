#pragma once

#include "bindings.hpp"

/// A reconstructor backed by a Python callable: `callable(features, hit)` gets copies of the
/// record and of the hit built so far and returns the hit that replaces it (all six values,
/// without the smaller-uncertainty rule).
class PyCallableReconstructor final : public tessel::Reconstructor {
public:
    explicit PyCallableReconstructor(py::function callable) noexcept;

    /// Takes the interpreter lock itself, so it may run on a thread that does not hold it.
    /// A Python exception raised by the callable propagates unchanged (py::error_already_set);
    /// a None result is a RuntimeError with an empty message, any other non-Hit result a
    /// RuntimeError with pybind11's cast-failure message.
    void reconstruct(const tessel::HitFeatures& features, tessel::Hit& hit) const override;

    /// Drops the reference to the callable with the interpreter lock held.
    ~PyCallableReconstructor() override;

    PyCallableReconstructor(const PyCallableReconstructor&) = delete;
    PyCallableReconstructor& operator=(const PyCallableReconstructor&) = delete;
    PyCallableReconstructor(PyCallableReconstructor&&) = delete;
    PyCallableReconstructor& operator=(PyCallableReconstructor&&) = delete;

private:
    py::function callable_;
};
