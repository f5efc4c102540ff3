#include "detached_process.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
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

// Our environment without the startup-notification tokens the desktop gave to Kormil itself:
// passed on, they would let every program we start take the focus as if it were Kormil starting
// up (styles 4 and 6 must leave it where it is), or end Kormil's own start notification.
std::vector<char*> childEnvironment()
{
    static constexpr const char* kTokens[] = {"XDG_ACTIVATION_TOKEN=", "DESKTOP_STARTUP_ID="};
    std::vector<char*> variables;
    for (char** variable = environ; *variable; ++variable) {
        bool token = false;
        for (const char* name : kTokens)
            token = token || std::strncmp(*variable, name, std::strlen(name)) == 0;
        if (!token)
            variables.push_back(*variable);
    }
    variables.push_back(nullptr);
    return variables;
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

    posix_spawn_file_actions_t actions;
    if (const int error = posix_spawn_file_actions_init(&actions); error != 0) {
        errno = error;
        return -1;
    }
    posix_spawnattr_t attributes;
    if (const int error = posix_spawnattr_init(&attributes); error != 0) {
        posix_spawn_file_actions_destroy(&actions);
        errno = error;
        return -1;
    }
    sigset_t none, everything;
    sigemptyset(&none);
    sigfillset(&everything);
    // A step that fails (out of memory) would start the program with our descriptors or signal
    // handling: then it is not started at all.
    int error = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDWR, 0);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDOUT_FILENO);
    if (error == 0)
        error = posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDERR_FILENO);
    if (error == 0)
        error = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (error == 0)
        error = posix_spawnattr_setsigmask(&attributes, &none);
    // Signals this program ignores or handles (SIGPIPE, SIGTERM ...) are the defaults there.
    if (error == 0)
        error = posix_spawnattr_setsigdefault(&attributes, &everything);
    if (error == 0)
        error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                          POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> environment = childEnvironment();
    pid_t started = -1;
    if (error == 0)
        error = posix_spawn(&started, program.c_str(), &actions, &attributes, argv.data(),
                            environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return -1;
    }
    // The new program waits behind us on this processor otherwise, while we log and repaint;
    // nothing we still have to do is as urgent as the command the user asked for.
    sched_yield();
    return started;
}
