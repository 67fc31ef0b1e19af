/* A library for LD_PRELOAD that makes chosen calls of the C library fail, so that tests can see
 * what a program does when the system lets it down: a full disk, a failing device, a read or
 * write that does only part of its work.
 *
 * FAULTS=SPEC[;SPEC...], each SPEC being CALL:N:ERROR[:sticky]
 *   CALL   write, read, open, tmpfile (an open that asks for an unnamed file), sync, rename,
 *          link, close, unlink or mkdir; each stands for the C library's functions of that kind
 *          (write: write, pwrite, writev and fwrite; open: open, openat and fopen; ...)
 *   N      which call of that kind fails, counted from 1 in the whole process
 *   ERROR  ENOSPC, EIO, EXDEV, EPERM or EOPNOTSUPP; or SHORT: a read or write that does half
 *          its work (any other call fails with EIO)
 *   sticky every call from the Nth on fails, not only the Nth
 * FAULT_COUNTS=FILE: at exit, a line "CALL COUNT" for each kind is appended to FILE.
 *
 * A close or fclose that fails still closes, as the system's does. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
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
    } known[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO},     {"EXDEV", EXDEV},
                 {"EPERM", EPERM},   {"EOPNOTSUPP", EOPNOTSUPP}, {"SHORT", Short}};
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

ssize_t write(int fd, const void *buffer, size_t count) {
    const int error = fault(Write);
    if (error && error != Short)
        return failWith(error);
    return REAL(write)(fd, buffer, part(error, count));
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off_t offset) {
    const int error = fault(Write);
    if (error && error != Short)
        return failWith(error);
    return REAL(pwrite64)(fd, buffer, part(error, count), offset);
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset) {
    return pwrite64(fd, buffer, count, offset);
}

ssize_t writev(int fd, const struct iovec *pieces, int count) {
    const int error = fault(Write);
    if (error && (error != Short || count < 1))
        return failWith(error);
    /* Short: only the first piece, halved. */
    return error ? REAL(write)(fd, pieces[0].iov_base, part(error, pieces[0].iov_len))
                 : REAL(writev)(fd, pieces, count);
}

size_t fwrite(const void *buffer, size_t size, size_t items, FILE *stream) {
    const int error = fault(Write);
    if (error && error != Short) {
        errno = error;
        return 0;
    }
    return REAL(fwrite)(buffer, size, part(error, items), stream);
}

ssize_t read(int fd, void *buffer, size_t count) {
    const int error = fault(Read);
    if (error && error != Short)
        return failWith(error);
    return REAL(read)(fd, buffer, part(error, count));
}

ssize_t pread64(int fd, void *buffer, size_t count, off_t offset) {
    const int error = fault(Read);
    if (error && error != Short)
        return failWith(error);
    return REAL(pread64)(fd, buffer, part(error, count), offset);
}

ssize_t pread(int fd, void *buffer, size_t count, off_t offset) {
    return pread64(fd, buffer, count, offset);
}

size_t fread(void *buffer, size_t size, size_t items, FILE *stream) {
    const int error = fault(Read);
    if (error && error != Short) {
        errno = error;
        return 0;
    }
    return REAL(fread)(buffer, size, part(error, items), stream);
}

static int openFault(int flags) {
    int error = (flags & O_TMPFILE) == O_TMPFILE ? fault(Tmpfile) : 0;
    if (!error)
        error = fault(Open);
    return error == Short ? EIO : error;
}

static mode_t modeOf(int flags, va_list arguments) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(arguments, mode_t) : 0;
}

int open64(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    const int error = openFault(flags);
    return error ? failWith(error) : REAL(open64)(path, flags, mode);
}

int open(const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return open64(path, flags, mode);
}

int __open64_2(const char *path, int flags) {
    return open64(path, flags);
}

int __open_2(const char *path, int flags) {
    return open64(path, flags);
}

int openat64(int folder, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    const int error = openFault(flags);
    return error ? failWith(error) : REAL(openat64)(folder, path, flags, mode);
}

int openat(int folder, const char *path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return openat64(folder, path, flags, mode);
}

FILE *fopen64(const char *path, const char *mode) {
    const int error = openFault(0);
    if (error) {
        errno = error;
        return NULL;
    }
    return REAL(fopen64)(path, mode);
}

FILE *fopen(const char *path, const char *mode) {
    return fopen64(path, mode);
}

int fsync(int fd) {
    const int error = fault(Sync);
    return error ? failWith(error) : REAL(fsync)(fd);
}

int fdatasync(int fd) {
    const int error = fault(Sync);
    return error ? failWith(error) : REAL(fdatasync)(fd);
}

int rename(const char *from, const char *to) {
    const int error = fault(Rename);
    return error ? failWith(error) : REAL(rename)(from, to);
}

int renameat(int fromFolder, const char *from, int toFolder, const char *to) {
    const int error = fault(Rename);
    return error ? failWith(error) : REAL(renameat)(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags) {
    const int error = fault(Rename);
    return error ? failWith(error) : REAL(renameat2)(fromFolder, from, toFolder, to, flags);
}

int link(const char *from, const char *to) {
    const int error = fault(Link);
    return error ? failWith(error) : REAL(link)(from, to);
}

int linkat(int fromFolder, const char *from, int toFolder, const char *to, int flags) {
    const int error = fault(Link);
    return error ? failWith(error) : REAL(linkat)(fromFolder, from, toFolder, to, flags);
}

int close(int fd) {
    const int error = fault(Close);
    const int closed = REAL(close)(fd);
    return error ? failWith(error) : closed;
}

int fclose(FILE *stream) {
    const int error = fault(Close);
    const int closed = REAL(fclose)(stream);
    if (!error)
        return closed;
    errno = error == Short ? EIO : error;
    return EOF;
}

int unlink(const char *path) {
    const int error = fault(Unlink);
    return error ? failWith(error) : REAL(unlink)(path);
}

int unlinkat(int folder, const char *path, int flags) {
    const int error = fault(Unlink);
    return error ? failWith(error) : REAL(unlinkat)(folder, path, flags);
}

int remove(const char *path) {
    const int error = fault(Unlink);
    return error ? failWith(error) : REAL(remove)(path);
}

int mkdir(const char *path, mode_t mode) {
    const int error = fault(Mkdir);
    return error ? failWith(error) : REAL(mkdir)(path, mode);
}

int mkdirat(int folder, const char *path, mode_t mode) {
    const int error = fault(Mkdir);
    return error ? failWith(error) : REAL(mkdirat)(folder, path, mode);
}

char *mkdtemp(char *pattern) {
    const int error = fault(Mkdir);
    if (error) {
        errno = error == Short ? EIO : error;
        return NULL;
    }
    return REAL(mkdtemp)(pattern);
}
