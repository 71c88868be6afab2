#include "support/process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace georef::test {

namespace {

// Reads a file that the child wrote its stream into.
std::string Slurp(int fd) {
    std::string bytes;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

int TemporaryFd() {
    char name[] = "/tmp/georef-capture-XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("cannot create a capture file");
    }
    ::unlink(name);
    return fd;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workingDirectory, const ProcessLimits& limits) {
    // Output goes to unlinked temporary files, so a chatty child never blocks on a pipe.
    m_outFd = TemporaryFd();
    m_errFd = TemporaryFd();
    std::vector<std::string> argvStrings;
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(m_outFd);
        ::close(m_errFd);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(m_outFd, 1);
        ::dup2(m_errFd, 2);
        // The child starts with the default action for the signals a test sends.
        for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
            std::signal(signalNumber, SIG_DFL);
        }
        if (limits.addressSpaceBytes > 0) {
            const rlimit limit{limits.addressSpaceBytes, limits.addressSpaceBytes};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) {
                ::_exit(125);
            }
        }
        if (::chdir(workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    m_pid = pid;
}

ChildProcess::~ChildProcess() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_outFd >= 0) {
        ::close(m_outFd);
        ::close(m_errFd);
    }
}

void ChildProcess::Signal(int signalNumber) const {
    if (m_pid > 0) {
        ::kill(m_pid, signalNumber);
    }
}

bool ChildProcess::Running() const {
    if (m_pid <= 0) {
        return false;
    }
    siginfo_t info{};
    // WNOWAIT: look without reaping, so that Wait still gets the status.
    return ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

std::string ChildProcess::OutputSoFar() const {
    std::string bytes;
    char buffer[4096];
    off_t offset = 0;
    for (ssize_t n; (n = ::pread(m_outFd, buffer, sizeof buffer, offset)) > 0; offset += n) {
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

ProcessResult ChildProcess::Wait() {
    ProcessResult result;
    if (m_pid <= 0) {
        return result;
    }
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_pid = -1;
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitStatus = 128 + WTERMSIG(status);
    }
    result.out = Slurp(m_outFd);
    result.err = Slurp(m_errFd);
    return result;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory, const ProcessLimits& limits) {
    ChildProcess child(program, args, workingDirectory, limits);
    return child.Wait();
}

ProcessResult RunGeoref(const std::vector<std::string>& args, const std::string& workingDirectory,
                        const ProcessLimits& limits) {
    return RunProcess(GeorefExe(), args, workingDirectory, limits);
}

}  // namespace georef::test
