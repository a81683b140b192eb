/* Runs a program once with its standard output in a file and prints the wall time in
 * microseconds and the peak resident memory in kilobytes of that one run.
 *   measure OUTPUT PROGRAM [ARGS...] */
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long long now_us(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000LL + t.tv_nsec / 1000;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: measure OUTPUT PROGRAM [ARGS...]\n");
        return 2;
    }
    const long long start = now_us();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        execv(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    wait4(child, &status, 0, &usage);
    printf("%lld %ld\n", now_us() - start, usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
