/*
 * Tessarex: PEA, ZIP and 7z archives and file digests.
 *
 * Every function returns a 32-bit status code; 0 is success. From the top byte down:
 *
 *   bits 31-24  system flag  0x01 when a platform call (file, text conversion,
 *                            cryptographic provider) failed, 0x00 otherwise
 *   bits 23-16  class        with the system flag: the failed call (0x02 open or create,
 *                            0x03 read or short read, 0x08 size query, 0x20 text
 *                            conversion, ...); without it: the condition (0x01 bad
 *                            argument, 0x31 coder failed, 0x41 wrong password, 0x90
 *                            cancelled, ...)
 *   bits 15-8   place        the routine that raised the code (0x41-0x48: the digest
 *                            functions below; 0x32: argument conversion)
 *   bits 7-0    occurrence   the site within that routine
 *
 * Test a class by masking with 0xFFFF0000, e.g. (code & 0xFFFF0000) == 0x00900000 for a
 * cancel. `tessarex status CODE` prints the meaning of any code.
 *
 * Calls are synchronous and must not overlap: one call at a time per process.
 * Strings are null-terminated UTF-8. The parent window handle is opaque and may be null.
 */
#ifndef TESSAREX_H
#define TESSAREX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention of the original platform's exports; nothing to say on Linux. */
#define TESSAREX_STDCALL
#define TESSAREX_API __attribute__((visibility("default")))

typedef uint32_t TessarexStatus;

/* Bits of the flag word shared by all functions. */
#define TESSAREX_FLAG_PROGRESS 0x1u       /* show the progress window (Pause, Cancel) */
#define TESSAREX_FLAG_ASK_OVERWRITE 0x2u  /* ask before overwriting an existing file */
#define TESSAREX_FLAG_ASK_PASSWORD 0x4u   /* ask for a missing password */
#define TESSAREX_FLAG_ASK_ON_ERROR 0x8u   /* offer to go on after a damaged entry */

/*
 * File digests. Each reads the whole file at `path` and writes its result into `result`,
 * which is left untouched on failure. Only TESSAREX_FLAG_PROGRESS is read from `flags`.
 *
 *   function         result bytes  form
 *   file_crc32       4             CRC-32 value, little-endian
 *   file_crc64       8             CRC-64 (ECMA-182) value, little-endian
 *   file_md5         16            digest bytes
 *   file_ripemd160   20            digest bytes
 *   file_sha1        20            digest bytes
 *   file_sha256      32            digest bytes
 *   file_sha512      64            digest bytes
 *   file_whirlpool   64            digest bytes
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_crc32(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_crc64(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_md5(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_ripemd160(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_sha1(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_sha256(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_sha512(void* parent, const char* path, uint32_t flags, void* result);
TESSAREX_API TessarexStatus TESSAREX_STDCALL file_whirlpool(void* parent, const char* path, uint32_t flags, void* result);

#ifdef __cplusplus
}
#endif

#endif /* TESSAREX_H */
