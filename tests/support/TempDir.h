#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testsupport {

// A fresh folder under the system temp directory, removed with its contents on destruction.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "ms-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed: " + pattern);
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return path_ / rel; }

  private:
    std::filesystem::path path_;
};

// Points XDG_CONFIG_HOME at a fresh TempDir for its lifetime and restores the previous value.
// Not thread-safe (setenv); create it before starting threads.
class ScopedConfigHome {
  public:
    ScopedConfigHome() : dir_("ms-config") {
        if (const char* old = ::getenv("XDG_CONFIG_HOME")) previous_ = old;
        ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    }
    ~ScopedConfigHome() {
        if (previous_)
            ::setenv("XDG_CONFIG_HOME", previous_->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    ScopedConfigHome(const ScopedConfigHome&) = delete;
    ScopedConfigHome& operator=(const ScopedConfigHome&) = delete;

    const std::filesystem::path& path() const { return dir_.path(); }

  private:
    TempDir dir_;
    std::optional<std::string> previous_;
};

}  // namespace testsupport
