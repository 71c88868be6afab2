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

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDirectory) {
    // Output goes to unlinked temporary files, so a chatty child never blocks on a pipe.
    const int outFd = TemporaryFd();
    const int errFd = TemporaryFd();
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
        ::close(outFd);
        ::close(errFd);
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
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProcessResult result;
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exitStatus = 128 + WTERMSIG(status);
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
