// Runs a command and writes its CPU time and peak resident memory to a file:
//   measure RESULT-FILE COMMAND [ARGS...]
// writes "USER-SECONDS SYSTEM-SECONDS PEAK-KIB STATUS". Linux keeps a
// process's peak memory across exec, so a command started straight from a
// large process (Python) would report that process's peak as its own;
// started from this small, statically linked one, the figure is the
// command's.
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: measure RESULT-FILE COMMAND [ARGS...]\n");
        return 2;
    }
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        perror("measure");
        return 1;
    }
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 1;
    }
    fprintf(out, "%ld.%06ld %ld.%06ld %ld %d\n", (long)usage.ru_utime.tv_sec, (long)usage.ru_utime.tv_usec,
            (long)usage.ru_stime.tv_sec, (long)usage.ru_stime.tv_usec, usage.ru_maxrss,
            WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return fclose(out) == 0 ? 0 : 1;
}
