/*
 * zip32: the archive engine. A shared library loaded by name at run time.
 *
 * Contract: ZpInit registers the callbacks, ZpSetOptions keeps a copy of the options,
 * ZpArchive writes the archive `archiveName` inside options->RootFolder from the files
 * under RootFolder that match the file specs, calling the callbacks on the calling
 * thread while it works. ZpArchive returns 0 on success or one of the ZE_ codes below.
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

/* Message text of `length` bytes (a zero byte follows it). Result ignored. */
typedef int(ZIP32_CALL *ZipPrintCallback)(const char *text, uint32_t length);
/* Fill `buffer` (ZIP32_COMMENT_BUFFER bytes) with the archive comment, zero-terminated. */
typedef int(ZIP32_CALL *ZipCommentCallback)(char *buffer);
/* Fill `buffer` of `size` bytes with the password; 0 means a password was given. */
typedef int(ZIP32_CALL *ZipPasswordCallback)(char *buffer, int32_t size, const char *prompt,
                                             const char *name);
/* Called once per file with its entry name and size; non-zero cancels the run. */
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

#define ZIP32_MAX_FILESPECS 100
typedef struct ZipFileSpecs {
    const char *Spec[ZIP32_MAX_FILESPECS];
} ZipFileSpecs;

/* Registers the callbacks. Non-zero: the engine is ready. */
ZIP32_API int ZIP32_CALL ZpInit(const ZipCallbacks *callbacks);
/* Copies the options (texts included) for the next ZpArchive. Non-zero on success. */
ZIP32_API int ZIP32_CALL ZpSetOptions(const ZipOptions *options);
/* Packs the files matching specs->Spec[0 .. fileCount-1] into archiveName inside RootFolder. */
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
static_assert(offsetof(ZipOptions, RecurseFlag) == 116, "ZipOptions layout");
static_assert(offsetof(ZipOptions, LevelChar) == 124, "ZipOptions layout");
#elif !defined(__cplusplus) && defined(UINTPTR_MAX) && UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(sizeof(ZipOptions) == 128, "ZipOptions layout");
_Static_assert(sizeof(ZipCallbacks) == 16, "ZipCallbacks layout");
#endif

#endif /* ZIP32_H */
