#pragma once

// Runs a program (a peer such as liblo's oscdump, or the application itself) as a child process.
// By default its standard output is captured, so that a test can wait, bounded, for the lines it
// prints; with Options::log both its outputs go to a file instead. The child is stopped (SIGTERM,
// or Options::stopSignal) and waited for when the object goes.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Poll.h"

extern char** environ;

namespace mstest {

class ChildProcess {
  public:
    // Changes to this process's environment for the child; nullopt unsets a variable.
    using Environment = std::map<std::string, std::optional<std::string>>;
    struct Options {
        Environment environment;
        // When set, standard output and error go to this file (truncated) instead of a pipe.
        std::optional<std::filesystem::path> log;
        // The file to run when it is not argv[0] (argv[0] is then only the name it is given).
        std::string program;
        int stopSignal = SIGTERM;
    };

    explicit ChildProcess(const std::vector<std::string>& argv) : ChildProcess(argv, Options{}) {}
    ChildProcess(const std::vector<std::string>& argv, Options options)
        : log_(std::move(options.log)), stopSignal_(options.stopSignal) {
        int fds[2] = {-1, -1};
        if (!log_ && ::pipe2(fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (log_) {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_->c_str(),
                                             O_WRONLY | O_CREAT | O_TRUNC, 0644);
            posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        } else {
            posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        }
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const std::vector<std::string> env = environmentWith(options.environment);
        std::vector<char*> envp;
        for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        const char* program = options.program.empty() ? args[0] : options.program.c_str();
        started_ = std::chrono::steady_clock::now();
        if (::posix_spawnp(&pid_, program, &actions, nullptr, args.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        if (!log_) {
            ::close(fds[1]);
            out_ = fds[0];
        }
    }
    ~ChildProcess() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, stopSignal_);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether it was started (and wait() has not been called since).
    bool running() const { return pid_ > 0; }
    // Its process ID while running(), for reading its /proc entries; -1 otherwise.
    pid_t pid() const { return pid_; }

    // Waits until the child has printed `count` complete lines (or ended, or `timeout` passed);
    // answers the lines read so far. Not with Options::log.
    const std::vector<std::string>& waitForLines(std::size_t count,
                                                 std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (lines_.size() < count && out_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(out_, buffer, sizeof buffer);
            if (n <= 0) break;
            partial_.append(buffer, static_cast<std::size_t>(n));
            for (auto eol = partial_.find('\n'); eol != std::string::npos;
                 eol = partial_.find('\n')) {
                lines_.push_back(partial_.substr(0, eol));
                partial_.erase(0, eol + 1);
            }
        }
        return lines_;
    }
    // Waits for the child to end; its exit status, or -1.
    int wait() {
        int status = 0;
        if (pid_ <= 0) return -1;
        if (!ended_ && ::waitpid(pid_, &status, 0) != pid_) return -1;
        if (ended_) status = status_;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Whether it has ended (or never started); does not block.
    bool ended() {
        if (pid_ <= 0 || ended_) return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            status_ = status;
            lifetime_ = std::chrono::steady_clock::now() - started_;
        }
        return ended_;
    }
    // The wait status (for WIFEXITED and the like) once it ends within `timeout`; empty when it
    // is still running.
    std::optional<int> waitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
        if (!pollUntil([&] { return ended(); }, timeout, std::chrono::milliseconds(1)))
            return std::nullopt;
        return status_;
    }
    void signal(int s) const {
        if (pid_ > 0 && !ended_) ::kill(pid_, s);
    }
    // From the start until ended() first saw it gone.
    std::chrono::steady_clock::duration lifetime() const { return lifetime_; }

    // What it wrote so far to Options::log.
    std::string output() const {
        if (!log_) return {};
        std::ifstream in(*log_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool waitForOutput(const std::string& text,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15)) const {
        return pollUntil([&] { return output().find(text) != std::string::npos; }, timeout);
    }

  private:
    static std::vector<std::string> environmentWith(const Environment& changes) {
        std::vector<std::string> out;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!changes.count(entry.substr(0, entry.find('=')))) out.push_back(entry);
        }
        for (const auto& [name, value] : changes) {
            if (value) out.push_back(name + "=" + *value);
        }
        return out;
    }

    std::optional<std::filesystem::path> log_;
    int stopSignal_ = SIGTERM;
    pid_t pid_ = -1;
    int out_ = -1;
    bool ended_ = false;
    int status_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::duration lifetime_{};
    std::string partial_;
    std::vector<std::string> lines_;
};

}  // namespace mstest
