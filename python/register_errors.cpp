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

/// Sets `type(message)` as the current Python error (bytes of the message that are not UTF-8
/// shown escaped); if a (translated) cause is already set, it becomes the new error's __cause__.
void set_or_chain(PyObject* type, const char* message) {
    PyObject* cause_type = nullptr;
    PyObject* cause = nullptr;
    PyObject* trace = nullptr;
    PyErr_Fetch(&cause_type, &cause, &trace);
    py::str text;
    try {
        text = shown(message);
    } catch (const py::error_already_set&) {
        text = py::str("(a message that cannot be shown)");
    }
    if (cause_type == nullptr) {
        py::set_error(type, text);
        return;
    }
    PyErr_NormalizeException(&cause_type, &cause, &trace);
    if (trace != nullptr) {
        PyException_SetTraceback(cause, trace);
        Py_DECREF(trace);
    }
    Py_DECREF(cause_type);
    py::set_error(type, text);
    PyObject* error_type = nullptr;
    PyObject* error = nullptr;
    PyObject* error_trace = nullptr;
    PyErr_Fetch(&error_type, &error, &error_trace);
    PyErr_NormalizeException(&error_type, &error, &error_trace);
    Py_INCREF(cause);
    PyException_SetCause(error, cause);    // steals one reference
    PyException_SetContext(error, cause);  // steals the other
    PyErr_Restore(error_type, error, error_trace);
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
    // get the same mapping as pybind11's standard translation; every message is shown with the
    // bytes that are not UTF-8 escaped, rather than failing to decode.
    py::register_local_exception_translator([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const py::error_already_set&) {
            throw;
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const std::exception&) {
            set_chained_error(error);
        }
    });
}
