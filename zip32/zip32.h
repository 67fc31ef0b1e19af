/*
 * zip32: the archive engine. A shared library loaded by name at run time.
 *
 * Contract: ZpInit registers the callbacks, ZpSetOptions keeps a copy of the options,
 * ZpArchive writes the archive `archiveName` inside options->RootFolder from the files
 * under RootFolder that match the file specs, calling the callbacks on the calling
 * thread while it works. ZpArchive returns 0 on success or one of the ZE_ codes below.
 * The engine may compress on worker threads of its own; callbacks are only ever called on
 * the thread that called ZpArchive.
 *
 * Text: RootFolder, the archive name and the file specs are in the file system's own
 * encoding (UTF-8), so any file name works; entry names that are not plain ASCII are
 * stored as UTF-8 with the archive's UTF-8 flag. Texts handed to the callbacks (messages,
 * entry names, the password and the comment) are in Windows-1252; a character that code
 * page lacks reaches the print and service callbacks as '?'. The archive comment is stored
 * byte for byte as the comment callback gives it, in Windows-1252 like the readme it quotes.
 *
 * Where pointers are 32 bits wide the records are laid out byte for byte as the
 * original engine's (ZipOptions 128 bytes, ZipCallbacks 16 bytes); where they are
 * 64 bits wide the same fields keep their order with natural widths.
 */
#ifndef ZIP32_H
#define ZIP32_H

#include <stdint.h>

#if defined(_WIN32)
#define ZIP32_CALL __stdcall
#if defined(ZIP32_BUILDING)
#define ZIP32_API __declspec(dllexport)
#else
#define ZIP32_API __declspec(dllimport)
#endif
#else
#define ZIP32_CALL
#define ZIP32_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Return codes of ZpArchive. readme.txt beside the program explains each to users. */
#define ZE_OK 0          /* success */
#define ZE_FORM 3        /* the existing archive to update or freshen is damaged or not a ZIP */
#define ZE_MEM 4         /* out of memory */
#define ZE_LOGIC 5       /* internal error of the engine */
#define ZE_ABORT 9       /* cancelled through the service callback */
#define ZE_TEMP 10       /* the temporary file could not be written or renamed into place */
#define ZE_READ 11       /* a file to be added could not be read */
#define ZE_NONE 12       /* nothing to do: no file matched, or nothing to update or freshen */
#define ZE_WRITE 14      /* the archive could not be written */
#define ZE_CREAT 15      /* the archive could not be created in the root folder */
#define ZE_PARMS 16      /* bad options: not initialised, no options set, bad level or folder */
#define ZE_DUPNAME 17    /* junk paths: two files would get the same name in the archive */
#define ZE_NOPASSWORD 18 /* encryption asked for, but the password callback gave none */

/* Sizes of the buffers the engine hands to its callbacks. */
#define ZIP32_PASSWORD_BUFFER 256 /* bytes, the terminating zero included */
#define ZIP32_COMMENT_BUFFER 4097 /* bytes: up to 4096 characters and a zero byte */

/* Message text of `length` bytes (a zero byte follows it): whole lines, each ending in LF,
 * written in plain sentences that name the file and the cause. Result ignored. */
typedef int(ZIP32_CALL *ZipPrintCallback)(const char *text, uint32_t length);
/* Fill `buffer` (ZIP32_COMMENT_BUFFER bytes) with the archive comment, zero-terminated. */
typedef int(ZIP32_CALL *ZipCommentCallback)(char *buffer);
/* Fill `buffer` of `size` bytes with the password; 0 means a password was given. */
typedef int(ZIP32_CALL *ZipPasswordCallback)(char *buffer, int32_t size, const char *prompt,
                                             const char *name);
/* Two kinds of call; a non-zero result of either cancels the run (ZE_ABORT, nothing written):
 * - name not null: once per file, in archive order, as its data goes into the archive, with
 *   its entry name and its size in bytes (at most INT32_MAX);
 * - name null: progress, at least every 100 ms while the run works and once more at its end,
 *   with `size` the share of the run done so far in thousandths (0 to 1000). */
typedef int(ZIP32_CALL *ZipServiceCallback)(const char *name, int32_t size);

typedef struct ZipCallbacks {
    ZipPrintCallback print;       /* slot 0 */
    ZipCommentCallback comment;   /* slot 1 */
    ZipPasswordCallback password; /* slot 2 */
    ZipServiceCallback service;   /* slot 3 */
} ZipCallbacks;

typedef struct ZipOptions {
    const char *DateFilter; /* 0: unused by this engine, null */
    const char *RootFolder; /* 4: the folder to pack; the archive is written inside it */
    const char *TempFolder; /* 8: unused, null */
    int32_t Reserved12[2];  /* 12, 16 */
    int32_t EncryptFlag;    /* 20 */
    int32_t Reserved24[10]; /* 24 .. 60 */
    int32_t JunkPathsFlag;  /* 64 */
    int32_t Reserved68[4];  /* 68 .. 80 */
    int32_t UpdateFlag;     /* 84 */
    int32_t FreshenFlag;    /* 88 */
    int32_t Reserved92[2];  /* 92, 96 */
    int32_t CommentFlag;    /* 100 */
    int32_t Reserved104[3]; /* 104 .. 112 */
    int32_t RecurseFlag;    /* 116 */
    int32_t Reserved120;    /* 120 */
    char LevelChar;         /* 124: '0' .. '9' */
    char Padding125[3];     /* 125 .. 127 */
} ZipOptions;

/* What this engine takes beyond the original engine's records, which keep their layout: an
 * engine built to that layout never sees these. Set through ZpSetExtras, after ZpSetOptions. */
typedef struct ZipExtras {
    uint32_t EntryTime; /* 0, or the time every entry gets (seconds since 1970, UTC) */
    int32_t Threads;    /* 0 for one worker per core, else the most worker threads */
} ZipExtras;

#define ZIP32_MAX_FILESPECS 100
typedef struct ZipFileSpecs {
    const char *Spec[ZIP32_MAX_FILESPECS];
} ZipFileSpecs;

/* Registers the callbacks. Non-zero: the engine is ready. */
ZIP32_API int ZIP32_CALL ZpInit(const ZipCallbacks *callbacks);
/* Copies the options (texts included) for the next ZpArchive, with no extras (all 0).
 * Non-zero on success. */
ZIP32_API int ZIP32_CALL ZpSetOptions(const ZipOptions *options);
/* This engine's own, optional for callers: the extras for the next ZpArchive, after
 * ZpSetOptions. Non-zero on success; 0 when no options are set. */
ZIP32_API int ZIP32_CALL ZpSetExtras(const ZipExtras *extras);
/* Packs the files matching specs->Spec[0 .. fileCount-1] into archiveName inside RootFolder.
 * Entries are written in the byte order of their names. An entry is stored rather than
 * deflated when deflating would not make it smaller. A file over 4 MiB is deflated in blocks
 * on every worker and judged by its first 2 MiB alone: when those do not shrink it is stored,
 * though its later data might have; when they do, it is deflated, and its later data grows by
 * at most 0.1% where it does not shrink. With EncryptFlag every entry of the result is
 * encrypted with this run's password, entries carried over by update or freshen included (one
 * that this password cannot read fails the run); without it, carried-over entries are kept
 * byte for byte. With the extras' EntryTime set, every entry carries that time, so the same
 * files give the same archive byte for byte (encryption aside), whatever the number of
 * workers. */
ZIP32_API int ZIP32_CALL ZpArchive(int32_t fileCount, const char *archiveName,
                                   const ZipFileSpecs *specs);

#ifdef __cplusplus
}
#endif

#if defined(__cplusplus) && UINTPTR_MAX == 0xFFFFFFFFu
#include <stddef.h>
static_assert(sizeof(ZipOptions) == 128, "ZipOptions layout");
static_assert(sizeof(ZipCallbacks) == 16, "ZipCallbacks layout");
static_assert(offsetof(ZipOptions, EncryptFlag) == 20, "ZipOptions layout");
static_assert(offsetof(ZipOptions, JunkPathsFlag) == 64, "ZipOptions layout");
static_assert(offsetof(ZipOptions, UpdateFlag) == 84, "ZipOptions layout");
static_assert(offsetof(ZipOptions, FreshenFlag) == 88, "ZipOptions layout");
static_assert(offsetof(ZipOptions, CommentFlag) == 100, "ZipOptions layout");
static_assert(offsetof(ZipOptions, Reserved104) == 104, "ZipOptions layout");
static_assert(offsetof(ZipOptions, RecurseFlag) == 116, "ZipOptions layout");
static_assert(offsetof(ZipOptions, LevelChar) == 124, "ZipOptions layout");
#elif !defined(__cplusplus) && defined(UINTPTR_MAX) && UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(sizeof(ZipOptions) == 128, "ZipOptions layout");
_Static_assert(sizeof(ZipCallbacks) == 16, "ZipCallbacks layout");
#endif

#endif /* ZIP32_H */
