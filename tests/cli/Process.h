// Child processes for the command-line tests: run a program to its end with its output
// captured, or start it and signal it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace clitest {

struct Ran {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Where a child's standard error goes: a pipe, or a terminal, for the progress lines a program
// shows only there.
enum class ErrorOutput { Pipe, Terminal };

class Child {
public:
    explicit Child(const std::vector<std::string>& argv,
                   ErrorOutput errorOutput = ErrorOutput::Pipe) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        if (errorOutput == ErrorOutput::Terminal) {
            err[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (err[0] < 0 || ::grantpt(err[0]) != 0 || ::unlockpt(err[0]) != 0) {
                throw std::runtime_error("pseudo-terminal");
            }
            err[1] = ::open(::ptsname(err[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
        } else if (::pipe2(err, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> args;
        for (const std::string& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        const int r = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
        if (r != 0) {
            throw std::runtime_error("cannot start " + argv[0]);
        }
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_out);
        ::close(m_err);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // Only while the child is there: after wait() the id is -1, and kill(-1) signals every
    // process this user may signal.
    void signal(int s) {
        if (m_pid > 0) {
            ::kill(m_pid, s);
        }
    }

    // Reads standard error until what it wrote so far satisfies the condition; false at the
    // deadline or when the stream ends first. What was read stays part of wait()'s result.
    bool waitForError(const std::function<bool(const std::string&)>& condition,
                      int timeoutMs = 20000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!condition(m_errSoFar)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            pollfd fd = {m_err, POLLIN, 0};
            if (left <= 0 || ::poll(&fd, 1, static_cast<int>(left)) < 0) {
                return false;
            }
            if (fd.revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = ::read(m_err, buffer, sizeof buffer);
            if (n <= 0) {
                return false;
            }
            m_errSoFar.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // Reads its output until it ends (killing it after timeoutMs).
    Ran wait(int timeoutMs = 20000) {
        Ran ran;
        ran.err.swap(m_errSoFar);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) {
                ::kill(m_pid, SIGKILL);
                break;
            }
            if (::poll(fds, 2, static_cast<int>(left)) <= 0) {
                continue;
            }
            for (int i = 0; i < 2; ++i) {
                if (fds[i].fd < 0 || fds[i].revents == 0) {
                    continue;
                }
                char buffer[65536];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    fds[i].fd = -1; // poll skips it from now on
                } else {
                    (i == 0 ? ran.out : ran.err).append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return ran;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
    std::string m_errSoFar;
};

inline Ran run(const std::vector<std::string>& argv, int timeoutMs = 20000) {
    Child child(argv);
    return child.wait(timeoutMs);
}

} // namespace clitest
