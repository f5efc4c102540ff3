#include "detached_process.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool isExecutableFile(const std::string& path, int& error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(info.st_mode) || ::access(path.c_str(), X_OK) != 0) {
        error = EACCES;
        return false;
    }
    return true;
}

// The program's path as the shell's PATH search finds it; empty with errno set when none.
std::string resolveProgram(const std::string& program)
{
    int error = ENOENT;
    if (program.empty()) {
        errno = ENOENT;
        return {};
    }
    if (program.find('/') != std::string::npos) {
        if (isExecutableFile(program, error))
            return program;
        errno = error;
        return {};
    }
    const char* pathVariable = std::getenv("PATH");
    const std::string searchPath = pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
    int firstError = ENOENT;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = searchPath.find(':', start);
        std::string directory = searchPath.substr(start, end - start);
        if (directory.empty())
            directory = ".";
        const std::string candidate = directory + '/' + program;
        if (isExecutableFile(candidate, error))
            return candidate;
        if (error != ENOENT && firstError == ENOENT)
            firstError = error;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    errno = firstError;
    return {};
}

// Every descriptor from 3 up closes when the program starts.
void closeOnExecFrom3()
{
#if defined(SYS_close_range)
    constexpr unsigned int kCloseRangeCloexec = 1U << 2;
    if (::syscall(SYS_close_range, 3U, ~0U, kCloseRangeCloexec) == 0)
        return;
#endif
    const long limit = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (limit > 0 && limit < 65536 ? limit : 65536); ++fd)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
}

bool readFully(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

[[noreturn]] void reportAndExit(int fd, int error)
{
    [[maybe_unused]] const ssize_t ignored = ::write(fd, &error, sizeof error);
    ::_exit(127);
}

} // namespace

pid_t startDetached(const std::vector<std::string>& arguments)
{
    if (arguments.empty()) {
        errno = ENOENT;
        return -1;
    }
    const std::string program = resolveProgram(arguments[0]);
    if (program.empty())
        return -1;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // The child reports the program's process id, then, only if it could not start it, errno.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return -1;
    const pid_t intermediate = ::fork();
    if (intermediate < 0) {
        const int error = errno;
        ::close(report[0]);
        ::close(report[1]);
        errno = error;
        return -1;
    }
    if (intermediate == 0) {
        ::close(report[0]);
        const pid_t started = ::fork();
        if (started != 0) {
            [[maybe_unused]] const ssize_t ignored = ::write(report[1], &started, sizeof started);
            if (started < 0)
                reportAndExit(report[1], errno);
            ::_exit(0);
        }
        ::setsid();
        const int devNull = ::open("/dev/null", O_RDWR);
        if (devNull < 0)
            reportAndExit(report[1], errno);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        closeOnExecFrom3();
        ::execv(program.c_str(), argv.data());
        reportAndExit(report[1], errno);
    }

    ::close(report[1]);
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }
    pid_t started = -1;
    int error = 0;
    const bool gotPid = readFully(report[0], &started, sizeof started);
    const bool failed = readFully(report[0], &error, sizeof error);
    ::close(report[0]);
    if (!gotPid || started < 0 || failed) {
        errno = failed ? error : ECHILD;
        return -1;
    }
    return started;
}
