#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "programs/talvo-update/terminal_console.h"
#include "programs/talvo-update/terminal_options.h"

namespace talvo::terminal {

namespace {

void NoteInterrupt(int) {
    static const char note[] = "\nThe update is running and cannot be stopped; please wait.\n";
    const ssize_t written = write(STDERR_FILENO, note, sizeof note - 1);
    (void)written;
}

}  // namespace

void PrepareConsole() {}

bool IsTerminal(int stream) {
    return isatty(stream == 0 ? STDIN_FILENO : STDOUT_FILENO) == 1;
}

std::uint32_t UserLcid() {
    return LcidFromLocaleName(LocaleNameFromEnvironment(
        std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
}

void HoldInterrupts(bool hold) {
    struct sigaction action {};
    action.sa_handler = hold ? &NoteInterrupt : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

std::FILE* OpenTraceFile(const std::string& path) {
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "w");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

extern "C" char** environ;

std::vector<int> RunWorkers(const std::vector<std::string>& ports,
                            const std::vector<std::string>& args, const WorkerLine& line) {
    struct Worker {
        pid_t pid = -1;
        int fds[2] = {-1, -1};  // standard output, standard error
        std::string pending[2];
    };
    std::vector<Worker> workers(ports.size());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            continue;
        }
        if (::pipe2(err, O_CLOEXEC) != 0) {
            ::close(out[0]);
            ::close(out[1]);
            continue;
        }
        std::vector<std::string> argv = {"talvo-update"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("--device=" + ports[i]);
        std::vector<char*> raw;
        for (std::string& arg : argv) {
            raw.push_back(arg.data());
        }
        raw.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        pid_t pid = -1;
        if (posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, raw.data(), environ) == 0) {
            workers[i].pid = pid;
            workers[i].fds[0] = out[0];
            workers[i].fds[1] = err[0];
        } else {
            ::close(out[0]);
            ::close(err[0]);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
    }
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<std::pair<std::size_t, int>> owners;
        for (std::size_t i = 0; i < workers.size(); ++i) {
            for (int k = 0; k < 2; ++k) {
                if (workers[i].fds[k] >= 0) {
                    fds.push_back({workers[i].fds[k], POLLIN, 0});
                    owners.emplace_back(i, k);
                }
            }
        }
        if (fds.empty()) {
            break;
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t f = 0; f < fds.size(); ++f) {
            if (fds[f].revents == 0) {
                continue;
            }
            auto [i, k] = owners[f];
            char buffer[4096];
            const ssize_t n = ::read(fds[f].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            std::string& pending = workers[i].pending[k];
            if (n > 0) {
                pending.append(buffer, static_cast<std::size_t>(n));
            }
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                line(i, k == 0, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
            if (n <= 0) {
                if (!pending.empty()) {
                    line(i, k == 0, pending);
                    pending.clear();
                }
                ::close(workers[i].fds[k]);
                workers[i].fds[k] = -1;
            }
        }
    }
    std::vector<int> codes(workers.size(), -1);
    for (std::size_t i = 0; i < workers.size(); ++i) {
        int status = 0;
        if (workers[i].pid > 0) {
            while (::waitpid(workers[i].pid, &status, 0) < 0 && errno == EINTR) {
            }
            codes[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    return codes;
}

}  // namespace talvo::terminal
