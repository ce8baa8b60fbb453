// The one way a child is started, in the shipped executables and in the test
// build alike: "/bin/sh -c command" with a fixed PATH and nothing else in its
// environment, no signal blocked, SIGPIPE at its default (the program ignores
// it) and, through `inChild`, nothing of the program's privileges that a seam
// takes away (the real seam drops the I/O privilege level there). Descriptors
// the program opens are closed on exec.
#pragma once
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

// The wait status of the child, as system() gives it; -1 when none started.
inline int ShellChild_Run(const char* command, void (*inChild)()) {
    static char kPath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    static char kShell[] = "/bin/sh";
    static char kDashC[] = "-c";
    char* const environment[] = {kPath, nullptr};
    char* const argv[] = {kShell, kDashC, const_cast<char*>(command), nullptr};
    // What the program printed comes before what the child prints.
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (inChild != nullptr) inChild();
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        execve(kShell, argv, environment);
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return status;
}
