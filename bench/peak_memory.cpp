// Runs a program and reports its peak resident memory:
//   orbse_peak_memory PROGRAM [ARGUMENTS...]
// prints "peak_resident_bytes N" and "exit_code C" on standard output and
// exits with the program's own exit code.
//
// The kernel keeps a process's high-water mark across exec, starting from
// the memory of whoever forked it. This launcher is small (a few MB), so
// the figure is the program's own peak unless that is smaller still.
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs("usage: orbse_peak_memory PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("orbse_peak_memory: fork");
        return 2;
    }
    if (child == 0) {
        execv(argv[1], argv + 1);
        std::perror("orbse_peak_memory: exec");
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (wait4(child, &status, 0, &usage) != child) {
        std::perror("orbse_peak_memory: wait");
        return 2;
    }
    const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // ru_maxrss counts kilobytes on Linux.
    std::printf("peak_resident_bytes %lld\nexit_code %d\n", static_cast<long long>(usage.ru_maxrss) * 1024,
                exit_code);
    return exit_code;
}
