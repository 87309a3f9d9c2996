// Child processes on POSIX: fork and exec of the program's own file, a pipe for the
// channel and an unlinked shared-memory object for the shared block, both handed to the
// child as descriptor numbers in the ends argument. The stand-in is Linux's: the child's
// parent-death signal is SIGKILL.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/childProcess.h"
#include "platform/platform.h"

namespace plat {

namespace {

using Clock = std::chrono::steady_clock;

// Longest single wait inside ChildProcess::wait, so a child whose channel stays open
// past its end (a helper process of a driver holding it) is still seen to end.
constexpr int waitSliceMs = 20;

void closeIfOpen(int& descriptor) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
}

void pauseMs(int milliseconds) {
    timespec pause{0, static_cast<long>(milliseconds) * 1000000L};
    nanosleep(&pause, nullptr);
}

// A shared-memory object of `bytes` zero bytes that only descriptors reach: its name is
// gone as soon as it is open.
int createSharedObject(size_t bytes) {
    static std::atomic<unsigned> serial{0};
    char name[64];
    std::snprintf(name, sizeof name, "/echoprobe-%ld-%u", static_cast<long>(getpid()), serial.fetch_add(1));
    const int descriptor = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) return -1;
    shm_unlink(name);
    if (ftruncate(descriptor, static_cast<off_t>(bytes)) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

ChildEnd endFromStatus(int status) {
    ChildEnd end;
    if (WIFSIGNALED(status)) {
        end.kind = ChildEnd::Kind::signalled;
        end.code = static_cast<uint32_t>(WTERMSIG(status));
    } else {
        end.kind = ChildEnd::Kind::exited;
        end.code = static_cast<uint32_t>(WEXITSTATUS(status));
    }
    return end;
}

// The child's side: the channel's descriptor once connected.
int parentChannel = -1;

// The value of the ends argument, or an empty text.
std::u16string endsArgumentValue() {
    const std::u16string lead = u"/" + std::u16string(childEndsSwitch) + u"=";
    for (const std::u16string& argument : arguments())
        if (argument.compare(0, lead.size(), lead) == 0) return argument.substr(lead.size());
    return {};
}

} // namespace

struct ChildProcess::State {
    pid_t pid = -1;
    int channel = -1; // the read end
    void* shared = nullptr;
    size_t sharedBytes = 0;
    ChildEnd end;

    // Reads what the channel holds now, without waiting; closes it at its end.
    bool drain(std::string& received) {
        bool got = false;
        char buffer[4096];
        while (channel >= 0) {
            pollfd ready{channel, POLLIN, 0};
            if (poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0) break;
            const ssize_t n = read(channel, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                closeIfOpen(channel);
                break;
            }
            received.append(buffer, static_cast<size_t>(n));
            got = true;
        }
        return got;
    }

    bool reap(bool block) {
        int status = 0;
        pid_t result;
        do {
            result = waitpid(pid, &status, block ? 0 : WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result != pid) return false;
        if (end.kind != ChildEnd::Kind::killed) end = endFromStatus(status);
        return true;
    }
};

ChildProcess::ChildProcess() : f_state(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
    kill();
    closeIfOpen(f_state->channel);
    if (f_state->shared != nullptr) munmap(f_state->shared, f_state->sharedBytes);
}

bool ChildProcess::start(const ChildOptions& options) {
    State& s = *f_state;
    if (s.pid > 0) return false;
    const std::string path = toNarrow(modulePath());
    int pipeEnds[2];
    if (path.empty() || pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
    int writeEnd = pipeEnds[1];
    s.channel = pipeEnds[0];

    int sharedObject = -1;
    if (options.sharedBytes > 0) {
        sharedObject = createSharedObject(options.sharedBytes);
        void* view = sharedObject < 0 ? MAP_FAILED
                                      : mmap(nullptr, options.sharedBytes, PROT_READ | PROT_WRITE, MAP_SHARED,
                                             sharedObject, 0);
        if (view == MAP_FAILED) {
            closeIfOpen(sharedObject);
            closeIfOpen(writeEnd);
            closeIfOpen(s.channel);
            return false;
        }
        s.shared = view;
        s.sharedBytes = options.sharedBytes;
    }

    // Everything the child needs is prepared before fork: after it, the child only makes
    // calls that are safe in a copy of a threaded process.
    std::vector<std::string> words{path};
    for (const std::u16string& argument : options.arguments)
        words.push_back(toNarrow(argument));
    words.push_back("/" + toNarrow(childEndsSwitch) + "=" + std::to_string(writeEnd) + "," +
                    std::to_string(sharedObject) + "," + std::to_string(options.sharedBytes));
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int nullDevice = open("/dev/null", O_RDWR | O_CLOEXEC);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        // The child dies with this process, also when it is killed outright; a parent that
        // ended before the signal was asked for has left already.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        if (options.ownProcessGroup) setpgid(0, 0);
        if (nullDevice >= 0 && !options.inheritInput) dup2(nullDevice, STDIN_FILENO);
        if (nullDevice >= 0 && !options.inheritOutput) dup2(nullDevice, STDOUT_FILENO);
        fcntl(writeEnd, F_SETFD, 0);
        if (sharedObject >= 0) fcntl(sharedObject, F_SETFD, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    closeIfOpen(nullDevice);
    closeIfOpen(writeEnd);
    closeIfOpen(sharedObject);
    if (pid < 0) {
        closeIfOpen(s.channel);
        return false;
    }
    if (options.ownProcessGroup) setpgid(pid, pid); // also here, whichever process runs first
    s.pid = pid;
    s.end = ChildEnd{ChildEnd::Kind::running, 0};
    return true;
}

void* ChildProcess::shared() const {
    return f_state->shared;
}

ChildEnd ChildProcess::wait(uint32_t milliseconds, std::string& received) {
    State& s = *f_state;
    if (s.end.kind != ChildEnd::Kind::running) return s.end;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int slice = static_cast<int>(left < waitSliceMs ? (left > 0 ? left : 0) : waitSliceMs);
        bool got = false;
        if (s.channel >= 0) {
            pollfd ready{s.channel, POLLIN, 0};
            if (poll(&ready, 1, slice) > 0) got = s.drain(received);
        } else if (slice > 0) {
            pauseMs(slice < 2 ? slice : 2);
        }
        if (s.reap(false)) {
            s.drain(received);
            closeIfOpen(s.channel);
            return s.end;
        }
        if (got || Clock::now() >= deadline) return s.end;
    }
}

void ChildProcess::kill() {
    State& s = *f_state;
    if (s.end.kind != ChildEnd::Kind::running) return;
    ::kill(s.pid, SIGKILL);
    s.end = ChildEnd{ChildEnd::Kind::killed, SIGKILL};
    s.reap(true);
}

ChildEnd ChildProcess::end() const {
    return f_state->end;
}

uint64_t ChildProcess::id() const {
    return f_state->pid > 0 ? static_cast<uint64_t>(f_state->pid) : 0;
}

int interruptOfEnd(const ChildEnd& end) {
    if (end.kind != ChildEnd::Kind::signalled) return 0;
    const int signal = static_cast<int>(end.code);
    return signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGQUIT ? signal : 0;
}

bool processRunning(uint64_t id) {
    // The state letter after the command's closing parenthesis: Z and X are ended.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%llu/stat", static_cast<unsigned long long>(id));
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return false;
    char line[512] = {};
    const size_t length = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    const char* close = std::strrchr(line, ')');
    if (length == 0 || close == nullptr || close[1] != ' ') return false;
    return close[2] != 'Z' && close[2] != 'X';
}

std::u16string childEndText(const ChildEnd& end) {
    switch (end.kind) {
    case ChildEnd::Kind::exited:
        return u"exit status " + fromNarrow(std::to_string(end.code));
    case ChildEnd::Kind::signalled:
    case ChildEnd::Kind::exception:
        return u"signal " + fromNarrow(std::to_string(end.code));
    case ChildEnd::Kind::killed:
        return u"killed";
    case ChildEnd::Kind::running:
        return u"running";
    case ChildEnd::Kind::notStarted:
        break;
    }
    return u"not started";
}

bool startedByParent() {
    return !endsArgumentValue().empty();
}

bool connectToParent(ParentLink& link) {
    const std::string value = toNarrow(endsArgumentValue());
    int channel = -1, sharedObject = -1;
    unsigned long long bytes = 0;
    if (value.empty() || std::sscanf(value.c_str(), "%d,%d,%llu", &channel, &sharedObject, &bytes) != 3 ||
        channel < 0)
        return false;
    // Neither end goes further, to programs a driver may start.
    fcntl(channel, F_SETFD, FD_CLOEXEC);
    parentChannel = channel;
    link = ParentLink{};
    if (sharedObject >= 0 && bytes > 0) {
        void* view = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, sharedObject, 0);
        close(sharedObject);
        if (view == MAP_FAILED) return false;
        link.shared = view;
        link.sharedBytes = static_cast<size_t>(bytes);
    }
    return true;
}

bool sendToParent(const std::string& bytes) {
    size_t done = 0;
    while (parentChannel >= 0 && done < bytes.size()) {
        const ssize_t n = write(parentChannel, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return parentChannel >= 0;
}

uintptr_t threadKey() {
    return static_cast<uintptr_t>(pthread_self());
}

} // namespace plat
