#include "bindings.hpp"

#include <exception>
#include <new>
#include <stdexcept>

namespace {

/// The nested cause of `error`, or null when it carries none.
std::exception_ptr cause_of(const std::exception& error) {
    const auto* nested = dynamic_cast<const std::nested_exception*>(&error);
    return nested != nullptr ? nested->nested_ptr() : nullptr;
}

/// Sets `type(message)` as the current Python error; if a (translated) cause is already set, it
/// becomes the new error's __cause__.
void set_or_chain(PyObject* type, const char* message) {
    if (PyErr_Occurred() != nullptr) {
        py::raise_from(type, message);
    } else {
        py::set_error(type, message);
    }
}

/// Sets the Python error for `error` and, before it, for every error nested in it, innermost
/// first, so that each outer exception's __cause__ is the translation of its nested one.  The
/// mapping of each link is the usual one: invalid_argument, domain_error, length_error and
/// range_error become ValueError, out_of_range IndexError, overflow_error OverflowError,
/// bad_alloc MemoryError, anything else RuntimeError.
void set_chained_error(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (const py::builtin_exception& e) {
        e.set_error();
    } catch (const std::exception& e) {
        if (const std::exception_ptr cause = cause_of(e); cause != nullptr && cause != error) {
            set_chained_error(cause);
        }
        PyObject* type = PyExc_RuntimeError;
        if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
            type = PyExc_MemoryError;
        } else if (dynamic_cast<const std::invalid_argument*>(&e) != nullptr ||
                   dynamic_cast<const std::domain_error*>(&e) != nullptr ||
                   dynamic_cast<const std::length_error*>(&e) != nullptr ||
                   dynamic_cast<const std::range_error*>(&e) != nullptr) {
            type = PyExc_ValueError;
        } else if (dynamic_cast<const std::out_of_range*>(&e) != nullptr) {
            type = PyExc_IndexError;
        } else if (dynamic_cast<const std::overflow_error*>(&e) != nullptr) {
            type = PyExc_OverflowError;
        }
        set_or_chain(type, e.what());
    } catch (...) {
        set_or_chain(PyExc_RuntimeError, "Caught an unknown exception!");
    }
}

}  // namespace

void register_errors(py::module_& /*m*/) {
    // Errors that replace a lower-level one (a settings file that cannot be loaded, a value that
    // cannot be read) nest it; the whole chain becomes chained Python exceptions, so that e.g.
    // the YAML parser's line and column show in the traceback.  Errors without a nested cause
    // are rethrown to pybind11's standard translation.
    py::register_local_exception_translator([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const py::error_already_set&) {
            throw;
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const std::exception& e) {
            if (cause_of(e) == nullptr) {
                throw;
            }
            set_chained_error(error);
        }
    });
}
