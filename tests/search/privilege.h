#pragma once

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// Runs body with the rights of an ordinary user and returns what it returns,
// so that tests of unreadable files also hold when the suite runs as root
// (root opens everything). Returns -1 when the body could not run.
inline int runUnprivileged(const std::function<int()>& body)
{
    if (::geteuid() != 0)
        return body();
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        constexpr uid_t kNobody = 65534;
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
            ::_exit(-1);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace testing_support
