#include "support/process.hpp"

#include <cerrno>
#include <cstdio>
#include <stdexcept>
#include <string>

#include <fcntl.h>
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

namespace {

// Starts program with its standard output and error on outFd and errFd.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::string& workingDirectory,
            int outFd, int errFd) {
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
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(outFd, 1);
        ::dup2(errFd, 2);
        if (::chdir(workingDirectory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    return pid;
}

}  // namespace

pid_t StartProcess(const std::string& program, const std::vector<std::string>& args,
                   const std::string& workingDirectory) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) {
        throw std::runtime_error("cannot open /dev/null");
    }
    try {
        const pid_t pid = Spawn(program, args, workingDirectory, null, null);
        ::close(null);
        return pid;
    } catch (...) {
        ::close(null);
        throw;
    }
}

int WaitForProcess(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory) {
    // Output goes to unlinked temporary files, so a chatty child never blocks on a pipe.
    const int outFd = TemporaryFd();
    const int errFd = TemporaryFd();
    ProcessResult result;
    try {
        result.exitStatus = WaitForProcess(Spawn(program, args, workingDirectory, outFd, errFd));
    } catch (...) {
        ::close(outFd);
        ::close(errFd);
        throw;
    }
    result.out = Slurp(outFd);
    result.err = Slurp(errFd);
    ::close(outFd);
    ::close(errFd);
    return result;
}

ProcessResult RunGeoref(const std::vector<std::string>& args, const std::string& workingDirectory) {
    return RunProcess(GeorefExe(), args, workingDirectory);
}

}  // namespace georef::test
