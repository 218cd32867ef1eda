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

/*
 * PEA archives. Passwords are byte strings of at most 250 bytes (a longer one is cut);
 * key files and output directories may be null. A failed call leaves no output behind.
 *
 * Check algorithm ids (volume, stream and object levels): 0 none, 1 Adler-32, 2 CRC-32,
 * 3 CRC-64, 16 MD5, 17 RIPEMD-160, 18 SHA-1, 19 SHA-256, 20 SHA-512, 21 Whirlpool; the stream
 * level may instead encrypt: 48 AES-128 & HMAC-SHA1, 49 AES-128 & EAX, 65 AES-256 & EAX.
 *
 * pea_pack1 packs one file, pea_pack2 the files and folders a path (which may end in a
 * wildcard pattern) names, or those of a list file (first line the base directory, then one
 * relative name per line, CR LF line ends). Options:
 *   [0] demand encryption (refuse a stream id below 48)   [1] flags (PROGRESS, ASK_PASSWORD)
 *   [2] compression 0 copy, 1 fast, 2 normal, 3 better    [3] volume check id
 *   [4] stream check or encryption id                     [5] object check id
 *   [6] time encoding: 16 MS-DOS local time, 48 Unix time
 *   [7] pea_pack2 only: not 0 when `source` is a list file
 */
/* Indexes of the PEA option words. */
enum {
  TESSAREX_PEA_DEMAND_ENCRYPTION = 0, /* packing and unpacking */
  TESSAREX_PEA_FLAGS = 1,             /* packing and unpacking; pea_list, split, join: word 0 */
  TESSAREX_PEA_COMPRESSION = 2,
  TESSAREX_PEA_VOLUME_CHECK = 3,
  TESSAREX_PEA_STREAM_CHECK = 4,
  TESSAREX_PEA_OBJECT_CHECK = 5,
  TESSAREX_PEA_TIME_ENCODING = 6,
  TESSAREX_PEA_LIST_FILE = 7,         /* pea_pack2 */
  TESSAREX_PEA_DELETE_SOURCE = 1,     /* pea_split, pea_join */
  TESSAREX_PEA_VOLUME_SIZE = 2        /* pea_split */
};

/* PEA check ids, compression settings and time encodings. */
enum {
  TESSAREX_CHECK_NONE = 0, TESSAREX_CHECK_ADLER32 = 1, TESSAREX_CHECK_CRC32 = 2, TESSAREX_CHECK_CRC64 = 3,
  TESSAREX_CHECK_MD5 = 16, TESSAREX_CHECK_RIPEMD160 = 17, TESSAREX_CHECK_SHA1 = 18, TESSAREX_CHECK_SHA256 = 19,
  TESSAREX_CHECK_SHA512 = 20, TESSAREX_CHECK_WHIRLPOOL = 21,
  TESSAREX_STREAM_AES128_HMAC = 48, TESSAREX_STREAM_AES128_EAX = 49, TESSAREX_STREAM_AES256_EAX = 65,
  TESSAREX_PEA_COPY = 0, TESSAREX_PEA_FAST = 1, TESSAREX_PEA_NORMAL = 2, TESSAREX_PEA_BETTER = 3,
  TESSAREX_TIME_DOS = 16, TESSAREX_TIME_UNIX = 48
};

TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_pack1(void* parent, const char* archive, const char* source,
                                                       const char* password, const char* key_file,
                                                       const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_pack2(void* parent, const char* archive, const char* source,
                                                       const char* password, const char* key_file,
                                                       const uint32_t* options);

/*
 * pea_unpack1 extracts the one object of a single-file archive, pea_unpack2 every object (or
 * those `filter` selects: "*" patterns, letter case ignored). `directory` null: the archive's
 * folder. Options: [0] demand encryption, [1] flags (PROGRESS, ASK_OVERWRITE, ASK_PASSWORD,
 * and for pea_unpack2 ASK_ON_ERROR: offer to go on past a damaged entry).
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_unpack1(void* parent, const char* archive, const char* directory,
                                                         const char* password, const char* key_file,
                                                         const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_unpack2(void* parent, const char* archive, const char* directory,
                                                         const char* filter, const char* password,
                                                         const char* key_file, const uint32_t* options);

/*
 * pea_list writes a listing of the archive into `output` (a zero-terminated text of at most
 * `output_size` bytes, lines ending in CR LF) and reports damaged volume or stream tags in
 * the text rather than failing. 0x00280000: the buffer is too small (the text is kept as far
 * as it got). Options: [0] flags (PROGRESS, ASK_PASSWORD).
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_list(void* parent, const char* archive, const char* password,
                                                      const char* key_file, char* output, uint32_t output_size,
                                                      const uint32_t* options);

/*
 * PEA volumes. pea_split cuts an archive into DIR/BASE.000001.pea, .000002.pea, ... each
 * at most options[2] bytes (at least 1024) and each closed by its own volume control tag;
 * pea_join finds the volumes from any one of them (or from BASE.pea) and writes DIR/BASE.pea.
 * `directory` may be null: the archive's own folder.
 *
 *   pea_split options: [0] flags (PROGRESS), [1] delete the archive after a successful
 *                      split, [2] volume size in bytes
 *   pea_join options:  [0] flags (PROGRESS, ASK_ON_ERROR to go on past a damaged volume),
 *                      [1] delete the volumes after a successful join
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_split(void* parent, const char* archive, const char* directory,
                                                       const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_join(void* parent, const char* volume, const char* directory,
                                                      const uint32_t* options);

/*
 * ZIP archives. Passwords are byte strings of at most 250 bytes.
 *
 * zip_pack1 packs one file, zip_pack2 the files and folders a wildcard path names (or, with
 * options[14], those of a list file). Options:
 *   [0] encryption required          [1] flags (PROGRESS, ASK_PASSWORD)
 *   [2] method: 0 Store, 8 Deflate, 12 BZip2               [3] level 1-9
 *   [4] central directory: bit 0 compress, bit 1 encrypt (encryption kinds 11, 12 only)
 *   [5] encryption: 0 none, 1 AE-1, 2 AE-2, 3 AE-1 or AE-2 chosen per file, 11 3DES, 12 AES
 *   [6] key length in bytes (16, 24, 32)   [7] IV length   [8] validation data length
 *   [9] strong-encryption flags            [10] signing    [11] signing digest
 *   [12] store NTFS times                  [13] UTF-8 names
 *   [14] zip_pack2 only: `source` is a list file
 * Strong encryption (11, 12) and signing are not available yet: 0x00020005, 0x0002000A;
 * reading refuses strong-encrypted members and central directories (class 0x44) and
 * signatures it cannot check yet (0x00445201).
 *
 * zip_unpack1 extracts a one-member archive, zip_unpack2 every member `filter` selects.
 * Options: [0] encryption required, [1] flags (PROGRESS, ASK_OVERWRITE, ASK_PASSWORD, and for
 * zip_unpack2 ASK_ON_ERROR). zip_list writes a listing as pea_list does; options: [0] flags.
 */
/* Indexes of the ZIP option words. */
enum {
  TESSAREX_ZIP_DEMAND_ENCRYPTION = 0, /* packing and unpacking */
  TESSAREX_ZIP_FLAGS = 1,             /* packing and unpacking; zip_list: word 0 */
  TESSAREX_ZIP_METHOD = 2,
  TESSAREX_ZIP_LEVEL = 3,
  TESSAREX_ZIP_DIRECTORY = 4,
  TESSAREX_ZIP_ENCRYPTION = 5,
  TESSAREX_ZIP_KEY_LENGTH = 6,
  TESSAREX_ZIP_IV_LENGTH = 7,
  TESSAREX_ZIP_VALIDATION_LENGTH = 8,
  TESSAREX_ZIP_STRONG_FLAGS = 9,
  TESSAREX_ZIP_SIGNING = 10,
  TESSAREX_ZIP_SIGNING_DIGEST = 11,
  TESSAREX_ZIP_NTFS_TIMES = 12,
  TESSAREX_ZIP_UTF8_NAMES = 13,
  TESSAREX_ZIP_LIST_FILE = 14         /* zip_pack2 */
};

/* ZIP methods, encryption kinds and central-directory bits. */
enum {
  TESSAREX_ZIP_STORE = 0, TESSAREX_ZIP_DEFLATE = 8, TESSAREX_ZIP_BZIP2 = 12,
  TESSAREX_ZIP_NO_ENCRYPTION = 0, TESSAREX_ZIP_AE1 = 1, TESSAREX_ZIP_AE2 = 2, TESSAREX_ZIP_AE_AUTOMATIC = 3,
  TESSAREX_ZIP_STRONG_3DES = 11, TESSAREX_ZIP_STRONG_AES = 12,
  TESSAREX_ZIP_COMPRESS_DIRECTORY = 1, TESSAREX_ZIP_ENCRYPT_DIRECTORY = 2
};

TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_pack1(void* parent, const char* archive, const char* source,
                                                       const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_pack2(void* parent, const char* archive, const char* source,
                                                       const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_unpack1(void* parent, const char* archive, const char* directory,
                                                         const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_unpack2(void* parent, const char* archive, const char* directory,
                                                         const char* filter, const char* password,
                                                         const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_list(void* parent, const char* archive, const char* password,
                                                      char* output, uint32_t output_size, const uint32_t* options);

/*
 * Linux extensions. These functions are this library's own additions for hosts on Linux;
 * they change nothing in the functions above.
 *
 * tessarex_status_text writes one line describing `code` into `buffer` (`size` bytes with
 * the terminating zero): the code in hex, the failed call or the condition by name, the
 * place and occurrence, and the error notice's message where the class has one (in the
 * language chosen: TESSAREX_LANGUAGE_LOCALE follows LC_ALL, LC_MESSAGES and LANG as the
 * dialogs do). Returns 0; 0x00280000 when the text was cut to fit; 0x00010001 when
 * `buffer` is null or `size` 0; 0x00020001 for an unknown language.
 *
 * tessarex_failure_text writes what the last failed system call of this thread's last
 * call concerned and why, as "PATH: reason" (for instance "data/q.zip: No such file or
 * directory") or "reason" alone, or an empty text when no system call failed. Codes with
 * the system flag (0x01xxxxxx) have such a text. Returns as tessarex_status_text.
 */
enum { TESSAREX_LANGUAGE_LOCALE = 0, TESSAREX_LANGUAGE_ENGLISH = 1, TESSAREX_LANGUAGE_JAPANESE = 2 };

TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_status_text(uint32_t code, uint32_t language, char* buffer,
                                                                  uint32_t size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_failure_text(char* buffer, uint32_t size);

#ifdef __cplusplus
}
#endif

#endif /* TESSAREX_H */
