#include "bindings.hpp"

namespace {

/// Binds `Vector` as an opaque list type and lets every argument declared as `Vector` also take
/// any Python iterable whose items convert to the element type (copied into a new vector for
/// the call).
template <class Vector>
void bind_list(py::module_& m, const char* name) {
    py::bind_vector<Vector>(m, name, py::module_local());
    py::implicitly_convertible<py::iterable, Vector>();
}

}  // namespace

void register_vectors(py::module_& m) {
    bind_list<std::vector<tessel::HitFeatures>>(m, "VectorHitFeatures");
    bind_list<std::vector<tessel::Hit>>(m, "VectorHit");
    bind_list<std::vector<std::uint16_t>>(m, "VectorUInt16");
}
