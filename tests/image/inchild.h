// SPDX-License-Identifier: MIT
// Runs a check in a child process, optionally as user nobody, so root can test denied access too.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

// Runs `check` in a child, as nobody when `asNobody`, killed after 10 s so that a call that blocks
// fails the test instead of hanging it. Returns the child's exit code (0: check held), or -1.
template <typename F>
int InChild(bool asNobody, F check)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(10);
        if (asNobody && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
