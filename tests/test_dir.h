// Test helpers: a temporary directory per test, and running the built tool.
#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/d88_writer.h"

namespace d88test {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class ScopedTempDir {
public:
    ScopedTempDir() {
        std::random_device random;
        do {
            path_ = fs::temp_directory_path() / ("d88cut-test-" + std::to_string(random()));
        } while (!fs::create_directory(path_));
    }
    ~ScopedTempDir() {
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        fs::remove_all(path_, error);
    }
    ScopedTempDir(const ScopedTempDir&) = delete;
    ScopedTempDir& operator=(const ScopedTempDir&) = delete;

    [[nodiscard]] const fs::path& path() const { return path_; }
    [[nodiscard]] fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// The files of a directory by name, sorted.
inline std::vector<std::string> listDir(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Mounts a file system on `target` while it lives. The mount is made in a
// mount namespace of this test process's own, so that no other process sees
// it and nothing stays mounted if the test dies. Mounting needs root with the
// right to mount; where it is missing, why() tells.
class ScopedMount {
public:
    ScopedMount(const fs::path& target, const char* source, const char* type, unsigned long flags,
                const std::string& options)
        : target_(target) {
        static const std::string unshared = privateNamespace();
        if (!unshared.empty()) {
            why_ = unshared;
            return;
        }
        // A bind mount is made read-only only by mounting it again.
        const bool bindReadOnly = (flags & MS_BIND) != 0 && (flags & MS_RDONLY) != 0;
        if (::mount(source, target.c_str(), type,
                    bindReadOnly ? static_cast<unsigned long>(MS_BIND) : flags,
                    options.c_str()) != 0) {
            why_ = std::string("mount: ") + std::strerror(errno);
            return;
        }
        mounted_ = true;
        if (bindReadOnly && ::mount(nullptr, target.c_str(), nullptr,
                                    MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            why_ = std::string("remount read-only: ") + std::strerror(errno);
        }
    }
    ~ScopedMount() {
        if (mounted_) {
            (void)::umount2(target_.c_str(), MNT_DETACH);
        }
    }
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;

    // Empty when the file system is mounted as asked.
    [[nodiscard]] const std::string& why() const { return why_; }

private:
    static std::string privateNamespace() {
        if (::unshare(CLONE_NEWNS) != 0) {
            return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            return std::string("making mounts private: ") + std::strerror(errno);
        }
        return {};
    }

    fs::path target_;
    bool mounted_ = false;
    std::string why_;
};

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char ch : text) {
        quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    }
    return quoted + "'";
}

// The command that runs the tool: D88CUT_COMMAND when set (for example an
// emulator and a foreign build), the tool built beside the tests otherwise.
inline std::string toolCommand() {
    const char* command = std::getenv("D88CUT_COMMAND");
    return command != nullptr && *command != '\0' ? std::string(command) : shellQuote(D88CUT_BINARY);
}

// Runs the tool in `workDir` with `args`, capturing both output streams;
// with `merged`, both go to `out` as they would to a console.
inline RunResult runTool(const fs::path& workDir, const std::vector<std::string>& args,
                         const std::string& prefix = "", bool merged = false) {
    ScopedTempDir capture;
    std::string command = "cd " + shellQuote(workDir.string()) + " && " + prefix + toolCommand();
    for (const std::string& arg : args) {
        command += ' ';
        command += shellQuote(arg);
    }
    command += " >" + shellQuote((capture / "out").string()) +
               (merged ? std::string(" 2>&1") : " 2>" + shellQuote((capture / "err").string()));
    RunResult result;
    const int raw = std::system(command.c_str());
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const auto out = readFile((capture / "out").string());
    const auto err = readFile((capture / "err").string());
    result.out.assign(out ? out->begin() : Bytes::const_iterator{}, out ? out->end() : Bytes::const_iterator{});
    result.err.assign(err ? err->begin() : Bytes::const_iterator{}, err ? err->end() : Bytes::const_iterator{});
    return result;
}

// Shift_JIS text as UTF-8, converted by the system's iconv.
inline std::string fromShiftJis(const std::string& text) {
    ScopedTempDir dir;
    const std::string in = (dir / "in").string();
    const std::string out = (dir / "out").string();
    (void)writeFile(in, Bytes(text.begin(), text.end()));
    const std::string command = "iconv -f CP932 -t UTF-8 " + shellQuote(in) + " >" + shellQuote(out);
    const auto converted = std::system(command.c_str()) == 0 ? readFile(out) : std::nullopt;
    return converted ? std::string(converted->begin(), converted->end()) : "(iconv failed)";
}

// Shift_JIS message bytes, as the tool writes them.
inline const std::string kRecognised = "\x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
inline const std::string kCannotOpen =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB\x82\xDC"
    "\x82\xB9\x82\xF1\x2E\x0A";
inline const std::string kCannotWrite =
    ": \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1"
    "\x2E\x0A";
inline const std::string kCannotRead =
    ": \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1"
    "\x2E\x0A";
inline const std::string kIncomplete =
    ": \x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCC\x88\xEA\x95\x94\x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDF"
    "\x82\xDC\x82\xB9\x82\xF1\x2E\x0A";
inline const std::string kCannotEnter =
    ": \x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xF0\x8A\x4A\x82\xAF\x82\xDC\x82\xB9\x82\xF1"
    "\x2E\x0A";

}  // namespace d88test
