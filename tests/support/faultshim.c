/* A library for LD_PRELOAD that makes chosen calls of the C library fail, so that tests can see
 * what a program does when the system lets it down: a full disk, a failing device, a read or
 * write that does only part of its work.
 *
 * FAULTS=SPEC[;SPEC...], each SPEC being CALL:N:ERROR[:sticky]
 *   CALL   write, read, open, tmpfile (an open that asks for an unnamed file), sync, rename,
 *          link, close, unlink or mkdir; each stands for the C library's functions of that kind
 *          that Qt, libzip and the C++ library call (write: write and fwrite; open: open,
 *          openat, fopen and mkstemp; ...)
 *   N      which call of that kind fails, counted from 1 in the whole process
 *   ERROR  ENOSPC, EIO or EOPNOTSUPP; or SHORT: a read or write that does half
 *          its work (any other call fails with EIO); or SIGINT or SIGTERM: a sync, rename,
 *          link, unlink or mkdir goes through, and then the process gets that signal
 *   sticky every call from the Nth on fails, not only the Nth
 * FAULT_COUNTS=FILE: at exit, a line "CALL COUNT" for each kind is appended to FILE.
 *
 * A close or fclose that fails still closes, as the system's does. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

/* The C library's own `name`, looked up once. */
#define REAL(name)                                                                                 \
    ({                                                                                             \
        static __typeof__(&name) real_;                                                            \
        if (!real_)                                                                                \
            real_ = (__typeof__(&name))dlsym(RTLD_NEXT, #name);                                    \
        real_;                                                                                     \
    })

enum Kind { Write, Read, Open, Tmpfile, Sync, Rename, Link, Close, Unlink, Mkdir, KindCount };
static const char *const kindNames[KindCount] = {"write",  "read", "open",  "tmpfile", "sync",
                                                 "rename", "link", "close", "unlink",  "mkdir"};

#define MaxSpecs 8
#define Short (-1)
#define SignalBase (-100) /* SignalBase - N: the call goes through, then signal N */
struct Spec {
    int kind;
    long nth;
    int error;
    int sticky;
};
static struct Spec specs[MaxSpecs];
static int specCount;
static long calls[KindCount];

static int errorNamed(const char *name) {
    static const struct {
        const char *name;
        int code;
    } known[] = {{"ENOSPC", ENOSPC},
                 {"EIO", EIO},
                 {"EOPNOTSUPP", EOPNOTSUPP},
                 {"SHORT", Short},
                 {"SIGINT", SignalBase - SIGINT},
                 {"SIGTERM", SignalBase - SIGTERM}};
    for (size_t i = 0; i < sizeof known / sizeof known[0]; ++i)
        if (strcmp(name, known[i].name) == 0)
            return known[i].code;
    return 0;
}

static void reportCounts(void) {
    const char *path = getenv("FAULT_COUNTS");
    FILE *out = path ? REAL(fopen64)(path, "a") : NULL;
    if (!out)
        return;
    for (int kind = 0; kind < KindCount; ++kind)
        fprintf(out, "%s %ld\n", kindNames[kind], calls[kind]);
    REAL(fclose)(out);
}

__attribute__((constructor)) static void readSpecs(void) {
    const char *text = getenv("FAULTS");
    char copy[512];
    snprintf(copy, sizeof copy, "%s", text ? text : "");
    char *rest = copy;
    for (char *spec; (spec = strsep(&rest, ";")) && specCount < MaxSpecs;) {
        char *name = strsep(&spec, ":"), *nth = strsep(&spec, ":"), *error = strsep(&spec, ":");
        if (!name || !nth || !error)
            continue;
        for (int kind = 0; kind < KindCount; ++kind) {
            if (strcmp(name, kindNames[kind]) == 0) {
                specs[specCount++] = (struct Spec){kind, atol(nth), errorNamed(error),
                                                   spec && strcmp(spec, "sticky") == 0};
                break;
            }
        }
    }
    atexit(reportCounts);
}

/* Counts a call of `kind`: 0 when it goes through, else the error it must fail with. */
static int fault(int kind) {
    const long n = __atomic_add_fetch(&calls[kind], 1, __ATOMIC_SEQ_CST);
    for (int i = 0; i < specCount; ++i) {
        if (specs[i].kind == kind && specs[i].error != 0 &&
            (n == specs[i].nth || (specs[i].sticky && n > specs[i].nth)))
            return specs[i].error;
    }
    return 0;
}

static int failWith(int error) {
    errno = error == Short ? EIO : error;
    return -1;
}

/* Half of `count` for a short transfer; the whole of it otherwise. */
static size_t part(int error, size_t count) {
    return error == Short && count > 1 ? count / 2 : count;
}

/* A call that fails with -1 and errno, or goes through (and then raises a signal). */
#define FAILING(kind, result, name, parameters, arguments)                                         \
    result name parameters {                                                                       \
        const int error = fault(kind);                                                             \
        if (error > SignalBase)                                                                    \
            return error ? failWith(error) : REAL(name) arguments;                                 \
        const result done = REAL(name) arguments;                                                  \
        raise(SignalBase - error);                                                                 \
        return done;                                                                               \
    }
/* A read or write: fails, does half its work (Short), or goes through. */
#define TRANSFER(kind, name, parameters, ...)                                                      \
    ssize_t name parameters {                                                                      \
        const int error = fault(kind);                                                             \
        if (error && error != Short)                                                               \
            return failWith(error);                                                                \
        return REAL(name)(__VA_ARGS__);                                                            \
    }
/* The same for the C library's streams, which count items and, as a failing system call
 * does to them, keep the stream's error indicator set for ferror(). */
#define STREAM(kind, name, constness)                                                              \
    size_t name(constness void *buffer, size_t size, size_t items, FILE *stream) {                 \
        const int error = fault(kind);                                                             \
        if (error && error != Short) {                                                             \
            stream->_flags |= _IO_ERR_SEEN;                                                        \
            errno = error;                                                                         \
            return 0;                                                                              \
        }                                                                                          \
        return REAL(name)(buffer, size, part(error, items), stream);                               \
    }

TRANSFER(Write, write, (int fd, const void *data, size_t count), fd, data, part(error, count))
TRANSFER(Read, read, (int fd, void *data, size_t count), fd, data, part(error, count))
STREAM(Write, fwrite, const)
STREAM(Read, fread, )

static int openFault(int flags) {
    int error = (flags & O_TMPFILE) == O_TMPFILE ? fault(Tmpfile) : 0;
    if (!error)
        error = fault(Open);
    return error == Short ? EIO : error;
}

/* open and openat, with the mode they take when they may create a file. */
#define OPEN(name, parameters, ...)                                                                \
    int name parameters {                                                                          \
        va_list more;                                                                              \
        va_start(more, flags);                                                                     \
        const mode_t mode =                                                                        \
            (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(more, mode_t) : 0;      \
        va_end(more);                                                                              \
        const int error = openFault(flags);                                                        \
        return error ? failWith(error) : REAL(name)(__VA_ARGS__, mode);                            \
    }
OPEN(open64, (const char *path, int flags, ...), path, flags)
OPEN(open, (const char *path, int flags, ...), path, flags)
OPEN(openat, (int folder, const char *path, int flags, ...), folder, path, flags)

FILE *fopen64(const char *path, const char *mode) {
    const int error = openFault(0);
    return error ? (errno = error, NULL) : REAL(fopen64)(path, mode);
}

FILE *fopen(const char *path, const char *mode) {
    return fopen64(path, mode);
}

int mkstemp(char *pattern) {
    const int error = openFault(O_CREAT);
    return error ? failWith(error) : REAL(mkstemp)(pattern);
}

FAILING(Sync, int, fsync, (int fd), (fd))
FAILING(Sync, int, fdatasync, (int fd), (fd))
FAILING(Rename, int, rename, (const char *from, const char *to), (from, to))
FAILING(Rename, int, renameat2, (int a, const char *from, int b, const char *to, unsigned flags),
        (a, from, b, to, flags))
FAILING(Link, int, link, (const char *from, const char *to), (from, to))
FAILING(Link, int, linkat, (int a, const char *from, int b, const char *to, int flags),
        (a, from, b, to, flags))
FAILING(Unlink, int, unlink, (const char *path), (path))
FAILING(Unlink, int, unlinkat, (int folder, const char *path, int flags), (folder, path, flags))
FAILING(Unlink, int, remove, (const char *path), (path))
FAILING(Mkdir, int, mkdir, (const char *path, mode_t mode), (path, mode))

int close(int fd) {
    const int error = fault(Close);
    const int closed = REAL(close)(fd);
    return error ? failWith(error) : closed;
}

int fclose(FILE *stream) {
    const int error = fault(Close);
    const int closed = REAL(fclose)(stream);
    return error ? (errno = error == Short ? EIO : error, EOF) : closed;
}
