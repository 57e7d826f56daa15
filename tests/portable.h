// What the tests need of the operating system, on Linux and on Windows: a
// directory of their own, the variable that names the temporary directory,
// the line end the log writes, a short sleep.
#ifndef HALVEX_TEST_PORTABLE_H
#define HALVEX_TEST_PORTABLE_H

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <stdlib.h>
// GetTempPath reads TMP first; the log's text mode writes CR LF.
constexpr const char *TempVariable = "TMP";
constexpr const char *LineEnd = "\r\n";
// The C runtime's _putenv changes the process's environment too, where the
// library's GetEnvironmentVariable and GetTempPath read it.
inline void SetEnv(const std::string &name, const std::string &value) { _putenv((name + "=" + value).c_str()); }
inline void UnsetEnv(const std::string &name) { _putenv((name + "=").c_str()); }
#else
#include <stdlib.h>
constexpr const char *TempVariable = "TMPDIR";
constexpr const char *LineEnd = "\n";
inline void SetEnv(const std::string &name, const std::string &value) { setenv(name.c_str(), value.c_str(), 1); }
inline void UnsetEnv(const std::string &name) { unsetenv(name.c_str()); }
#endif

// A new, empty directory under the system's temporary directory, named
// after what the test is about.
inline std::string MakeTestDirectory(const std::string &about)
{
    namespace fs = std::filesystem;
    static std::mt19937 random{std::random_device{}()};
    fs::path base = fs::temp_directory_path();
    for (;;) {
        fs::path candidate = base / ("halvex-" + about + "-" + std::to_string(random() % 1000000000u));
        std::error_code error;
        if (fs::create_directory(candidate, error))
            return candidate.string();
        if (error)
            return std::string();
    }
}

inline void RemoveTree(const std::string &directory)
{
    std::error_code error;
    std::filesystem::remove_all(directory, error);
}

inline bool Exists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

inline void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

#endif
