#include "standard_streams.h"

#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace {

void openOnNull(int descriptor)
{
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return;
    if (null == descriptor) {
        ::fcntl(descriptor, F_SETFD, 0);
    } else {
        ::dup2(null, descriptor);
        ::close(null);
    }
}

} // namespace

void keepStandardStreamsSafe()
{
    for (int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(descriptor, F_GETFD) == -1)
            openOnNull(descriptor);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void stopWritingToStandardError()
{
    openOnNull(STDERR_FILENO);
}
