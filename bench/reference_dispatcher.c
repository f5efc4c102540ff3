/* The least a voice command dispatcher has to do, as a yardstick for Kormil's latency: it reads
   the pairs of a Kormil settings file, listens on a TCP port, serves one connection at a time,
   takes whatever one read returns as one voice string, looks for the first pattern equal to it
   and starts that pair's command the way Kormil's launcher does (own session, /dev/null for
   standard input, output and error, no other descriptor, default signals). It logs nothing and
   shows nothing.

   Usage: kormil_bench_reference SETTINGS-FILE PORT */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct pair {
    char* pattern;
    char* command;
};

static struct pair* pairs;
static size_t pairCount;
/* Open addressing: the row + 1 of the first pattern with that text, 0 for a free slot. */
static uint32_t* firstRows;
static size_t slotMask;

static uint64_t hashText(const char* text, size_t length)
{
    uint64_t hash = 14695981039346656037ULL;
    for (size_t i = 0; i < length; ++i)
        hash = (hash ^ (unsigned char)text[i]) * 1099511628211ULL;
    return hash;
}

static int firstRow(const char* text, size_t length)
{
    for (size_t slot = hashText(text, length) & slotMask; firstRows[slot];
         slot = (slot + 1) & slotMask) {
        const char* pattern = pairs[firstRows[slot] - 1].pattern;
        if (strlen(pattern) == length && memcmp(pattern, text, length) == 0)
            return (int)firstRows[slot] - 1;
    }
    return -1;
}

static void indexPatterns(void)
{
    size_t slots = 16;
    while (slots < 2 * pairCount)
        slots *= 2;
    firstRows = calloc(slots, sizeof *firstRows);
    slotMask = slots - 1;
    for (size_t row = 0; row < pairCount; ++row) {
        const char* pattern = pairs[row].pattern;
        const size_t length = strlen(pattern);
        if (firstRow(pattern, length) >= 0)
            continue;
        size_t slot = hashText(pattern, length) & slotMask;
        while (firstRows[slot])
            slot = (slot + 1) & slotMask;
        firstRows[slot] = (uint32_t)row + 1;
    }
}

/* Keys "patternN" and "commandN" of section "pairs"; rows run from 0 to the first gap. */
static int loadPairs(const char* path)
{
    FILE* file = fopen(path, "r");
    if (!file)
        return -1;
    size_t capacity = 0;
    int inPairs = 0;
    char* line = NULL;
    size_t lineCapacity = 0;
    ssize_t length;
    while ((length = getline(&line, &lineCapacity, file)) >= 0) {
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            line[--length] = '\0';
        if (line[0] == '[') {
            inPairs = strcmp(line, "[pairs]") == 0;
            continue;
        }
        char* equals = strchr(line, '=');
        if (!inPairs || !equals)
            continue;
        *equals = '\0';
        const int isPattern = strncmp(line, "pattern", 7) == 0;
        const int isCommand = strncmp(line, "command", 7) == 0;
        if (!isPattern && !isCommand)
            continue;
        const size_t row = strtoul(line + 7, NULL, 10);
        if (row >= capacity) {
            const size_t grown = capacity ? 2 * capacity : 64;
            capacity = grown > row ? grown : row + 1;
            pairs = realloc(pairs, capacity * sizeof *pairs);
            memset(pairs + pairCount, 0, (capacity - pairCount) * sizeof *pairs);
        }
        if (row >= pairCount)
            pairCount = row + 1;
        char** field = isPattern ? &pairs[row].pattern : &pairs[row].command;
        free(*field);
        *field = strdup(equals + 1);
    }
    free(line);
    fclose(file);
    for (size_t row = 0; row < pairCount; ++row) {
        if (!pairs[row].pattern || !pairs[row].command) {
            pairCount = row;
            break;
        }
    }
    indexPatterns();
    return 0;
}

/* Splits the command line at blanks; the benchmark's commands need no quoting. */
static void start(const char* commandLine)
{
    char* words = strdup(commandLine);
    char* argv[64];
    int argc = 0;
    for (char* word = strtok(words, " \t"); word && argc < 63; word = strtok(NULL, " \t"))
        argv[argc++] = word;
    argv[argc] = NULL;
    if (argc > 0) {
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, STDIN_FILENO, STDERR_FILENO);
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
        sigset_t none, everything;
        sigemptyset(&none);
        sigfillset(&everything);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setsigdefault(&attributes, &everything);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                  POSIX_SPAWN_SETSIGDEF);
        pid_t child;
        posix_spawnp(&child, argv[0], &actions, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    free(words);
}

static int listenOn(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address = {0};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, (struct sockaddr*)&address, sizeof address) != 0 || listen(fd, 1) != 0)
        return -1;
    return fd;
}

int main(int argc, char** argv)
{
    if (argc != 3 || loadPairs(argv[1]) != 0) {
        fprintf(stderr, "usage: %s SETTINGS-FILE PORT\n", argv[0]);
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    const int listener = listenOn(atoi(argv[2]));
    if (listener < 0) {
        perror("listen");
        return 1;
    }
    const int poller = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event watch = {.events = EPOLLIN, .data.fd = listener};
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &watch);
    int connection = -1;
    static char text[65536];
    for (;;) {
        struct epoll_event ready;
        if (epoll_wait(poller, &ready, 1, -1) < 1)
            continue;
        if (ready.data.fd == listener) {
            connection = accept4(listener, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            /* Nobody else is served until this peer has gone. */
            epoll_ctl(poller, EPOLL_CTL_DEL, listener, NULL);
            watch.data.fd = connection;
            epoll_ctl(poller, EPOLL_CTL_ADD, connection, &watch);
        } else {
            const ssize_t length = read(connection, text, sizeof text);
            if (length > 0) {
                const int row = firstRow(text, (size_t)length);
                if (row >= 0)
                    start(pairs[row].command);
            } else if (length == 0 || errno != EAGAIN) {
                close(connection);
                connection = -1;
                watch.data.fd = listener;
                epoll_ctl(poller, EPOLL_CTL_ADD, listener, &watch);
            }
        }
        while (waitpid(-1, NULL, WNOHANG) > 0) {
        }
    }
}
