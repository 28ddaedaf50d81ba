#pragma once

#include <QString>

#include <filesystem>
#include <string>

#include <unistd.h>

// A directory of the fuzz target's own for the whole run, removed at exit.
struct FuzzSandbox {
    std::filesystem::path root;

    FuzzSandbox() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "zelto-fuzz-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
    }
    ~FuzzSandbox() {
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
    // Empties dir (created when missing).
    static void reset(const std::filesystem::path& dir) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        std::filesystem::create_directories(dir, ec);
    }
    static QString qt(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
};

// True when path is below dir (or dir itself) once both are made canonical.
inline bool isWithin(const std::filesystem::path& path, const std::filesystem::path& dir) {
    std::error_code ec;
    const auto p = std::filesystem::weakly_canonical(path, ec);
    const auto d = std::filesystem::weakly_canonical(dir, ec);
    auto [dirEnd, pathAt] = std::mismatch(d.begin(), d.end(), p.begin(), p.end());
    return dirEnd == d.end();
}
