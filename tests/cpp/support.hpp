#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <typeinfo>
#include <utility>

namespace tessel::testing {

/// A fresh directory under the system's temporary directory, removed with everything in it when
/// the object goes.
class TempDir {
public:
    TempDir() {
        static std::atomic<unsigned> counter{0};
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            root_ = base /
                    ("tessel-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
            if (std::filesystem::create_directory(root_)) {
                break;
            }
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    [[nodiscard]] const std::filesystem::path& root() const { return root_; }

    /// Writes `text` to `name` (relative to the directory, parents created); returns its path.
    std::filesystem::path write(const std::filesystem::path& name, std::string_view text) const {
        const auto file = root_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out << text;
        if (!out.flush()) {
            throw std::runtime_error("cannot write " + file.string());
        }
        return file;
    }

private:
    std::filesystem::path root_;
};

/// The exception that `f` throws, or a null pointer if it returns.
template <class F>
std::exception_ptr thrown_by(F&& f) {
    try {
        std::forward<F>(f)();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

/// The exception nested in `e` (std::rethrow_if_nested), or a null pointer if there is none.
inline std::exception_ptr cause_of(const std::exception& e) {
    try {
        std::rethrow_if_nested(e);
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

/// Expects `error` to hold an `E` and hands it to `check`; any other outcome is a failure.
template <class E, class Check>
void expect_thrown(const std::exception_ptr& error, Check&& check) {
    if (!error) {
        ADD_FAILURE() << "nothing was thrown";
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const E& e) {
        std::forward<Check>(check)(e);
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected " << typeid(e).name() << ": " << e.what();
    } catch (...) {
        ADD_FAILURE() << "unexpected exception of a non-standard type";
    }
}

/// Expects `error` to hold an `E` whose what() is exactly `message`.
template <class E>
void expect_message(const std::exception_ptr& error, const std::string& message) {
    expect_thrown<E>(error, [&](const E& e) { EXPECT_EQ(e.what(), message); });
}

}  // namespace tessel::testing
