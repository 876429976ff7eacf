// Wall time of whole runs of programs, the runs of the commands interleaved so that a busy
// neighbour stretches them all alike: `spawn_times RUNS COMMAND [;; COMMAND]...` starts each
// command in turn RUNS times (posix_spawn, standard output to /dev/null) and prints, for each,
// the 10th, 25th and 50th percentile of its runs in microseconds, then its words. With
// SPAWN_UNLINK=PATH in the environment, PATH is deleted before every run, so that a run that
// makes that file always makes a new one.
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

enum { kMaxCommands = 16 };

static int compareTimes(const void* a, const void* b) {
    const double x = *(const double*)a;
    const double y = *(const double*)b;
    return (x > y) - (x < y);
}

static double microseconds(const struct timespec* from, const struct timespec* to) {
    return (double)(to->tv_sec - from->tv_sec) * 1e6 + (double)(to->tv_nsec - from->tv_nsec) / 1e3;
}

int main(int argc, char** argv) {
    if (argc < 3 || atoi(argv[1]) < 1) {
        fprintf(stderr, "usage: spawn_times RUNS COMMAND [;; COMMAND]...\n");
        return 2;
    }
    const int runs = atoi(argv[1]);
    char** commands[kMaxCommands] = {&argv[2]};
    int count = 1;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], ";;") != 0) continue;
        if (count == kMaxCommands || i + 1 == argc) {
            fprintf(stderr, "spawn_times: at most %d commands, none empty\n", kMaxCommands);
            return 2;
        }
        argv[i] = NULL;
        commands[count++] = &argv[i + 1];
    }
    const char* unlinkPath = getenv("SPAWN_UNLINK");
    double* times = calloc((size_t)runs * (size_t)count, sizeof(double));
    if (times == NULL) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    for (int run = 0; run < runs; ++run) {
        for (int c = 0; c < count; ++c) {
            if (unlinkPath != NULL) unlink(unlinkPath);
            struct timespec start;
            struct timespec end;
            pid_t pid = 0;
            int status = 0;
            clock_gettime(CLOCK_MONOTONIC, &start);
            if (posix_spawn(&pid, commands[c][0], &actions, NULL, commands[c], environ) != 0 ||
                waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
                WEXITSTATUS(status) != 0) {
                fprintf(stderr, "spawn_times: %s did not run and exit 0\n", commands[c][0]);
                return 1;
            }
            clock_gettime(CLOCK_MONOTONIC, &end);
            times[(size_t)c * (size_t)runs + (size_t)run] = microseconds(&start, &end);
        }
    }
    for (int c = 0; c < count; ++c) {
        double* mine = times + (size_t)c * (size_t)runs;
        qsort(mine, (size_t)runs, sizeof(double), compareTimes);
        printf("%.0f %.0f %.0f", mine[runs / 10], mine[runs / 4], mine[runs / 2]);
        for (char** word = commands[c]; *word != NULL; ++word) printf(" %s", *word);
        printf("\n");
    }
    return 0;
}
