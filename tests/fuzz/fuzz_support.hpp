#pragma once

// Shared by the libFuzzer targets: a scratch directory for the files an input stands for, and a
// check that stops the run (an abort, which libFuzzer reports with the input) when a property
// does not hold.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace tessel::fuzz {

/// Aborts with `what` when `condition` is false.
inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

/// A directory of this process, made once, under $TMPDIR (or /tmp).
inline const std::filesystem::path& scratch() {
    static const std::filesystem::path dir = [] {
        auto path =
            std::filesystem::temp_directory_path() / ("tessel-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return dir;
}

/// Writes `text` to `name` in the scratch directory; returns its path.
inline std::filesystem::path write_file(const std::string& name, std::string_view text) {
    const auto path = scratch() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    require(!out.fail(), "the scratch file can be written");
    return path;
}

}  // namespace tessel::fuzz
