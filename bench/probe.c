/* Appends the monotonic clock, in nanoseconds, to the file named by its argument: the moment a
   command started by Kormil begins to run. */
#include <stdio.h>
#include <time.h>

int main(int argc, char** argv)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (argc < 2)
        return 2;
    FILE* report = fopen(argv[1], "a");
    if (!report)
        return 1;
    fprintf(report, "%lld\n", (long long)now.tv_sec * 1000000000LL + now.tv_nsec);
    return fclose(report) == 0 ? 0 : 1;
}
