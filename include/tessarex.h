/*
 * Tessarex: PEA, ZIP and 7z archives and file digests.
 *
 * Every function returns a 32-bit status code (TessarexStatus); 0 is success. From the top
 * byte down a code holds:
 *
 *   bits 31-24  system flag  TESSAREX_SYSTEM_FLAG (0x01) when a platform call failed (a file,
 *                            directory, text conversion or cryptographic call), 0x00 otherwise
 *   bits 23-16  class        with the system flag: which call failed (TESSAREX_CALL_*);
 *                            without it: the condition (TESSAREX_CLASS_*)
 *   bits 15-8   place        the routine that raised the code (0x00: the function's own body;
 *                            0x31-0x3E shared routines such as the name check 0x31 and argument
 *                            conversion 0x32; 0x41-0x48 the digest functions; the format
 *                            routines have their own)
 *   bits 7-0    occurrence   the site within that routine
 *
 * Compare classes with TESSAREX_CLASS_OF(code), which keeps the system flag and the class:
 * TESSAREX_CLASS_OF(code) == TESSAREX_CLASS_CANCELLED after a cancel. tessarex_status_text
 * (below) words any code; `tessarex status CODE` prints the same line.
 *
 * Calls are synchronous and must not overlap: one call at a time per process. Strings are
 * null-terminated UTF-8; paths of 1024 or more UTF-16 units are refused. The parent window
 * handle is opaque and may be null (nothing is disabled on this platform). Results go to
 * caller memory only on success. No call leaves a partial file behind: files are written
 * under a temporary name beside their target and take its name only when complete, so a
 * failed, cancelled or killed call never destroys a file that was there before.
 *
 * Null arguments: a required path (archive, source, volume) that is null gives 0x00013201
 * and an empty one 0x00013202; a null option array gives 0x00010000. Optional arguments
 * (password, key_file, directory, filter) may be null, which means the same as empty:
 * no password, no key file, the archive's own folder, every entry.
 */
#ifndef TESSAREX_H
#define TESSAREX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling convention marker of the exported functions: the platform's default C convention. */
#define TESSAREX_STDCALL
#define TESSAREX_API __attribute__((visibility("default")))

typedef uint32_t TessarexStatus;

/* Parts of a status code. */
#define TESSAREX_SYSTEM_FLAG 0x01000000u
#define TESSAREX_CLASS_OF(code) ((uint32_t)(code) & 0xFFFF0000u)
#define TESSAREX_PLACE_OF(code) (((uint32_t)(code) >> 8) & 0xFFu)
#define TESSAREX_OCCURRENCE_OF(code) ((uint32_t)(code) & 0xFFu)

/* Classes with the system flag: the platform call that failed (tessarex_failure_text says
 * on which path and why). */
#define TESSAREX_CALL_CLOSE 0x01000000u            /* closing a file */
#define TESSAREX_CALL_FIND 0x01010000u             /* finding files, reading a folder */
#define TESSAREX_CALL_OPEN 0x01020000u             /* opening or creating a file */
#define TESSAREX_CALL_READ 0x01030000u             /* reading, or fewer bytes than asked */
#define TESSAREX_CALL_WRITE 0x01040000u            /* writing (a full disk, for instance) */
#define TESSAREX_CALL_SEEK 0x01050000u             /* moving the file position */
#define TESSAREX_CALL_SET_TIME 0x01060000u         /* setting file times */
#define TESSAREX_CALL_GET_TIME 0x01070000u         /* reading file times */
#define TESSAREX_CALL_SIZE 0x01080000u             /* reading a file size */
#define TESSAREX_CALL_CURRENT_DIR 0x01090000u      /* the current directory (or 1024 units or longer) */
#define TESSAREX_CALL_ATTRIBUTES 0x010A0000u       /* reading file attributes */
#define TESSAREX_CALL_MAKE_DIR 0x010B0000u         /* creating a directory */
#define TESSAREX_CALL_TEMP_DIR 0x010C0000u         /* finding the temporary directory */
#define TESSAREX_CALL_TEMP_FILE 0x010D0000u        /* creating a temporary file */
#define TESSAREX_CALL_DELETE 0x010E0000u           /* deleting a file */
#define TESSAREX_CALL_MOVE 0x010F0000u             /* moving or renaming a file */
#define TESSAREX_CALL_TO_UTF16 0x01200000u         /* text not valid UTF-8, or too long */
#define TESSAREX_CALL_FROM_UTF16 0x01210000u       /* text conversion from UTF-16 */
#define TESSAREX_CALL_CRYPTO 0x01300000u           /* a cryptographic call or the random source */

/* Classes without the system flag: conditions. */
#define TESSAREX_CLASS_BAD_ARGUMENT 0x00010000u     /* a required argument null or empty */
#define TESSAREX_CLASS_BAD_OPTION 0x00020000u       /* an option word out of its range */
#define TESSAREX_CLASS_BAD_NAME 0x00100000u         /* a refused character, "..", "//", leading "/" */
#define TESSAREX_CLASS_NAME_LENGTH 0x00110000u      /* a name empty, or a path of 1024 units or more */
#define TESSAREX_CLASS_NO_DIRECTORY 0x00120000u     /* not the kind of path required */
#define TESSAREX_CLASS_NOTHING_TO_DO 0x00130000u    /* nothing matched, or a list names nothing */
#define TESSAREX_CLASS_NOT_A_DIRECTORY 0x00140000u  /* a file or a link where a folder must be */
#define TESSAREX_CLASS_VOLUME_COUNT 0x00180000u     /* too many volumes, or a volume missing */
#define TESSAREX_CLASS_NO_MEMORY 0x00200000u
#define TESSAREX_CLASS_NO_MEMORY_GROW 0x00210000u
#define TESSAREX_CLASS_OUTPUT_TOO_SMALL 0x00280000u /* a listing does not fit the buffer */
#define TESSAREX_CLASS_CODER_INIT 0x00300000u
#define TESSAREX_CLASS_CODER_FAILED 0x00310000u     /* damaged data or a wrong password */
#define TESSAREX_CLASS_CODER_END 0x00320000u
#define TESSAREX_CLASS_UNKNOWN_METHOD 0x00330000u
#define TESSAREX_CLASS_PASSWORD_PROBLEM 0x00400000u /* password and settings do not fit together */
#define TESSAREX_CLASS_PASSWORD_WRONG 0x00410000u
#define TESSAREX_CLASS_AUTH_FAILED 0x00420000u      /* a MAC does not match: damaged or forged */
#define TESSAREX_CLASS_CIPHER_DATA 0x00430000u
#define TESSAREX_CLASS_UNKNOWN_CIPHER 0x00440000u
#define TESSAREX_CLASS_CIPHER_PARAMETER 0x00450000u
#define TESSAREX_CLASS_SIGNATURE_WRONG 0x00590000u
#define TESSAREX_CLASS_ARCHIVE_DAMAGED 0x00600000u  /* sizes or offsets that cannot be */
#define TESSAREX_CLASS_CHECKSUM_WRONG 0x00610000u
#define TESSAREX_CLASS_DIGEST_WRONG 0x00620000u
#define TESSAREX_CLASS_CANCELLED 0x00900000u        /* Cancel, or a window or question that
                                                       cannot be shown */
/* 0x70-0x7A: a record of the archive format too short, of a wrong signature or with a value
 * the format does not allow; 0x80-0x85: a structure missing or of a kind not supported. */

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
 * PEA archives.
 *
 * password  a byte string of which the first 250 bytes count; null or empty: none (with
 *           TESSAREX_FLAG_ASK_PASSWORD the password question is asked instead).
 * key_file  an optional second secret: the first 2048 bytes of this file (all of a shorter
 *           one) enter the key derivation together with the password, so the archive opens
 *           only with both. Null or empty: no key file.
 *
 * Check algorithm ids (volume, stream and object levels): 0 none, 1 Adler-32, 2 CRC-32,
 * 3 CRC-64, 16 MD5, 17 RIPEMD-160, 18 SHA-1, 19 SHA-256, 20 SHA-512, 21 Whirlpool; the stream
 * level may instead encrypt and authenticate: 48 AES-128 & HMAC-SHA1, 49 AES-128 & EAX,
 * 65 AES-256 & EAX. Files of an encrypted stream take their names only once the whole
 * stream has authenticated.
 *
 * pea_pack1 packs one file, pea_pack2 the files and folders a path names (its last part may
 * hold "*" and "?"; folders are packed with everything below them, links followed, each
 * folder once) or those of a list file (first line the base directory, then one relative
 * name per line, CR LF line ends). An archive or list named like one of its inputs is
 * refused (0x01020000); an archive inside the folder it packs is left out.
 * Option words (pea_pack1 reads [0]-[6], pea_pack2 [0]-[7]); there are no defaults, the
 * usual choices are given in brackets:
 *   [0] not 0: demand encryption (a stream id below 48 is refused, 0x00400000)
 *   [1] flags: PROGRESS, ASK_PASSWORD
 *   [2] compression: 0 copy, 1 fast, 2 normal, 3 better  [2]
 *   [3] volume check id  [2]        [4] stream check or encryption id  [19, or 65 to encrypt]
 *   [5] object check id  [2]        [6] times: 16 MS-DOS local time, 48 Unix time  [48]
 *   [7] pea_pack2: not 0 when `source` is a list file  [0]
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
 * those `filter` selects: "*" and "?" patterns, letter case ignored; null or empty: all).
 * `directory`: the output folder, which must exist (null or empty: the archive's folder).
 * Folders are made beneath it without following links; a link or file in the way of a
 * folder is refused (class 0x14). An existing file of an entry's name is replaced only
 * once the entry is complete and checked.
 * Option words (2): [0] not 0: demand encryption; [1] flags: PROGRESS, ASK_OVERWRITE,
 * ASK_PASSWORD, and for pea_unpack2 ASK_ON_ERROR (offer to go on past a damaged entry).
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
 * as it got); a null `output` or a size of 0 lists nothing and returns 0. Names are shown
 * with control characters escaped as \xHH. Option words (1): [0] flags (PROGRESS,
 * ASK_PASSWORD).
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_list(void* parent, const char* archive, const char* password,
                                                      const char* key_file, char* output, uint32_t output_size,
                                                      const uint32_t* options);

/*
 * PEA volumes. pea_split cuts an archive into DIR/BASE.000001.pea, .000002.pea, ... each
 * at most options[2] bytes (at least 1024) and each closed by its own volume control tag;
 * pea_join finds the volumes from any one of them (or from BASE.pea) and writes DIR/BASE.pea.
 * `directory` may be null: the archive's own folder. Volumes and the joined archive are
 * flushed to disk before they take their names, and originals are deleted only then; a
 * split removes older volumes of the same name beyond its new last one.
 *
 *   pea_split options (3): [0] flags (PROGRESS), [1] not 0: delete the archive after a
 *                          successful split, [2] volume size in bytes (at least 1024)
 *   pea_join options (2):  [0] flags (PROGRESS, ASK_ON_ERROR to go on past a damaged
 *                          volume), [1] not 0: delete the volumes after a successful join
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_split(void* parent, const char* archive, const char* directory,
                                                       const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL pea_join(void* parent, const char* volume, const char* directory,
                                                      const uint32_t* options);

/*
 * ZIP archives. `password`: a byte string of which the first 250 bytes count; null or
 * empty: none (with TESSAREX_FLAG_ASK_PASSWORD the question is asked when one is needed).
 *
 * zip_pack1 packs one file, zip_pack2 the files and folders a wildcard path names (folders
 * with everything below them, links followed, each folder once), or with word [14] those of
 * a list file. The archive is never one of its own inputs (0x01020000 when named as one;
 * left out when met in a folder). Option words (zip_pack1 reads [0]-[13], zip_pack2
 * [0]-[14]); there are no defaults, the usual choices are given in brackets:
 *   [0] not 0: encryption required (kind 0 is then refused, 0x00400002)
 *   [1] flags: PROGRESS, ASK_PASSWORD
 *   [2] method: 0 Store, 8 Deflate, 12 BZip2  [8]         [3] level 1-9  [6]
 *   [4] central directory: bit 0 compress it with the method (not with Store), bit 1
 *       encrypt it (kinds 11 and 12 only)  [0]
 *   [5] encryption: 0 none, 1 AE-1, 2 AE-2, 3 AE-1 or AE-2 chosen per file, 11 3DES,
 *       12 AES  [0, or 3 with a password]
 *   [6] key length in bytes: 16, 24, 32 (others are rounded to the nearest)  [32]
 *       (kind 11 always uses 21)
 *   [7] kinds 11, 12: IV length 1-16 (0x00020007)  [16]
 *   [8] kinds 11, 12: validation data length, a multiple of 16 in 16-128 (0x00020008)  [16]
 *   [9] kinds 11, 12: strong-encryption flags, masked with 0x4103: 0x0001 password,
 *       0x0002 recipients' certificates (with or without 0x0001), 0x0100 the master key
 *       wrapped with PKCS#1 v1.5 instead of OAEP; 0x4000 (3DES master key) is added for
 *       AES with recipients. Without 0x0002 only 0x0001 is kept. A value with neither
 *       0x0001 nor 0x0002 is refused (0x00020009)  [1]
 *   [10] signing: 0 none, 1 directory, 2 members, 3 both  [0]
 *   [11] signing digest: 1 MD5, 2 SHA-1  [2]
 *   [12] not 0: store NTFS times  [0]     [13] not 0: UTF-8 names flagged  [0]
 *   [14] zip_pack2: not 0 when `source` is a list file  [0]
 * With [0] set, an empty password without ASK_PASSWORD is refused (0x00400003).
 * Bit 1 of [4] is ignored unless [5] is 11 or 12; [10] above 3 is 0x0002000A, [11] other
 * than 1 or 2 with signing 0x0002000B.
 * Recipients (flag 0x0002) are chosen with the certificate picker (or a preset choice)
 * among the user's stores before the archive file is made; each needs an RSA key
 * (0x01305304 otherwise). At most 25 recipients (0x00585301), and their key-transport
 * entries, 34 bytes plus the key's modulus each, must fit in 4096 bytes (0x00585302): at
 * most 25 RSA-1024, 14 RSA-2048, 9 RSA-3072 or 7 RSA-4096 recipients. No recipient chosen:
 * 0x00515301. Signing asks for one certificate of the user's own store with its private
 * key (an RSA key: 0x01305403 otherwise; a key file readable by group or others:
 * 0x01306302), before the archive file is made.
 * Reading opens a recipient's archive with the user's own certificate and key when one
 * matches, else with the password when the archive has one (0x00511301 when neither).
 * A member signature is checked over the unpacked data (0x00595202 when it does not
 * match, 0x0130520x when the signature data or its certificate is damaged), the
 * directory's signature before the first member. A signature "OK" says that the data
 * matches the certificate stored in the archive; tessarex_zip_verify says whether that
 * certificate is in the user's stores or chains to the system's trusted certificates.
 * A wrong password for a strong-encrypted
 * member or central directory gives 0x00411301 or 0x00411302 before a file is made;
 * zip_list takes the password (and ASK_PASSWORD in its flags) for an encrypted directory.
 *
 * zip_unpack1 extracts a one-member archive, zip_unpack2 every member `filter` selects
 * (null or empty: all) into `directory` (which must exist; null or empty: the archive's
 * folder), as pea_unpack2 does: folders made beneath it without following links, a file
 * replaced only once its member is complete and checked. Members that overlap in the file,
 * or that decode to more or fewer bytes than they declare, are refused. Option words (2):
 * [0] not 0: encryption required; [1] flags: PROGRESS, ASK_OVERWRITE, ASK_PASSWORD, and for
 * zip_unpack2 ASK_ON_ERROR. zip_list writes a listing as pea_list does; option words (1):
 * [0] flags.
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
/*
 * tessarex_zip_verify checks every signature of a ZIP archive: the central directory's
 * and each signed member's (unpacked into the temporary folder and not kept). `report`
 * gets one line per signature: "Directory: " or "Member NAME: ", then "Signature (OK)"
 * or "Signature (BAD 0xCODE)", then ", signed by SUBJECT (in your certificate stores |
 * trusted by the system | not trusted)". Returns 0 when every signature verifies, the
 * first failure's code otherwise, 0x00135701 for an archive without signatures, and
 * 0x00280000 class codes when `report` is too small. `flags`: TESSAREX_FLAG_ASK_PASSWORD.
 */
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_zip_verify(void* parent, const char* archive,
                                                                 const char* password, char* report,
                                                                 uint32_t report_size, uint32_t flags);

TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_list(void* parent, const char* archive, const char* password,
                                                      char* output, uint32_t output_size, const uint32_t* options);

/*
 * zip_delete removes the members whose names `filter` matches (null, empty or "*": all);
 * zip_add copies into `destination` the members of `source` that `filter` matches. Nothing
 * is recompressed or re-encrypted: members are copied byte for byte (local header, data,
 * data descriptor), so AES and traditionally encrypted members stay as they are, and the
 * central directory is rebuilt (compressed and encrypted again when it was). The new archive is written
 * beside the old one and renamed onto it once complete and flushed; until then the old
 * archive is untouched, and a failure leaves it as it was. An advisory lock (flock) on the
 * archive is held for the whole update, so a second update of it waits. `work_folder`
 * (null or empty: none) must be an existing folder (0x00123601); the new archive is not
 * written there, since only a rename within one folder replaces the old one in one step.
 * `password` opens an encrypted central directory (of either archive); the rebuilt one
 * keeps the old one's cipher, random data and recipients under a new IV and new
 * validation data. A wrong password gives 0x00411301 or 0x00411302 and changes nothing.
 * Damaged archives (a directory past the end, overlapping members, a member running into
 * the directory) are refused before anything changes. zip_delete of an archive without
 * members succeeds and changes nothing, as does zip_add from a source without members.
 * Names of the two archives are compared without regard to case.
 * Option words: zip_delete (1): [0] flags (PROGRESS). zip_add (2): [0] flags, [1] which
 * destination members a same-named source member replaces: 0 none (only new names are
 * added), 1 all, 2 those older than it; 3 or more 0x00020001. zip_add returns 0x00010001
 * when both paths name one file.
 */
enum {
  TESSAREX_ZIP_UPDATE_FLAGS = 0,
  TESSAREX_ZIP_ADD_MODE = 1
};
enum { TESSAREX_ZIP_ADD_NEVER = 0, TESSAREX_ZIP_ADD_ALWAYS = 1, TESSAREX_ZIP_ADD_NEWER = 2 };

TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_delete(void* parent, const char* archive, const char* work_folder,
                                                        const char* filter, const char* password,
                                                        const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL zip_add(void* parent, const char* destination, const char* source,
                                                     const char* work_folder, const char* filter,
                                                     const char* password, const uint32_t* options);

/*
 * 7z archives.
 *
 * svz_pack1 packs one file as one folder; svz_pack2 packs the files and folders a path names
 * (its last part may hold "*" and "?"; links followed, each folder once) or those of a list
 * file, one folder per file; svz_pack3 packs them in solid blocks, several files per folder.
 * Entries are stored as files with data, then empty files, then folders (deeper first). The
 * password is a byte string of which the first 250 bytes count (cut before a character the
 * limit would split), hashed as UTF-16LE; null or empty: none. Option words (svz_pack1 reads
 * [0]-[11], svz_pack2 [0]-[12], svz_pack3 [0]-[15]); the usual choices in brackets:
 *   [0]  not 0: demand encryption: data and header encryption must both be on (0x00400000)
 *   [1]  flags: PROGRESS, ASK_PASSWORD
 *   [2]  method: 0 Copy, 1 Deflate, 2 BZip2, 3 LZMA  [3]
 *   [3]  level 1-9 (Deflate level, BZip2 block size, LZMA level)  [5]
 *   [4]  x86 branch converter (BCJ): 0 never, 1 always, 2 for .exe .dll .ocx .sfx .sys  [2]
 *   [5]  not 0: store creation times
 *   [6]  header: bit 0 compress it, bit 1 encrypt it  [1, or 3 to encrypt]
 *   [7]  header compression method, numbered as [2]  [3]
 *   [8]  not 0: encrypt with AES-256 (without it, bit 1 of [6] is ignored)
 *   [9]  key derivation: 2^[9] SHA-256 rounds, 0-62  [19]
 *   [10] salt bytes 0-16  [0]          [11] IV bytes 0-16  [16]
 *   [12] (svz_pack2, svz_pack3) not 0: the source is a list file (first line the base
 *        directory, then one relative name per line)
 *   [13] (svz_pack3) blocks by type: 0 no, 1 executables apart, 2 one extension per block
 *   [14] (svz_pack3) most files per block, 0 no limit (1 is refused)
 *   [15] (svz_pack3) most bytes per block, 0 no limit, else at least 1024
 * An existing archive of that name is replaced only once the new one is complete; an archive
 * inside the folder being packed is left out.
 *
 * svz_unpack1 extracts an archive of one entry (as svz_pack1 writes it); svz_unpack2 the
 * entries of an archive of one folder per file, svz_unpack3 of any archive (solid blocks
 * too), both those whose names `filter` matches. Files take their names only once complete
 * and checked; a file there before stays until then. Option words (2): [0] not 0: the header
 * and every folder must be encrypted; [1] flags: PROGRESS, ASK_OVERWRITE, ASK_PASSWORD, and
 * for svz_unpack2 and svz_unpack3 ASK_ON_ERROR.
 *
 * svz_list writes a listing of the archive and its entries into `output` (capacity
 * `output_size` bytes, text ended by a zero); only an encrypted header needs the password.
 * Its one option word: flags (ASK_PASSWORD).
 */
/* Indexes of the 7z packing option words. */
enum {
  TESSAREX_7Z_DEMAND_ENCRYPTION = 0,
  TESSAREX_7Z_FLAGS = 1,
  TESSAREX_7Z_METHOD = 2,
  TESSAREX_7Z_LEVEL = 3,
  TESSAREX_7Z_BCJ = 4,
  TESSAREX_7Z_CREATION_TIMES = 5,
  TESSAREX_7Z_HEADER = 6,
  TESSAREX_7Z_HEADER_METHOD = 7,
  TESSAREX_7Z_ENCRYPT = 8,
  TESSAREX_7Z_CYCLES_POWER = 9,
  TESSAREX_7Z_SALT_SIZE = 10,
  TESSAREX_7Z_IV_SIZE = 11,
  TESSAREX_7Z_LIST_FILE = 12,     /* svz_pack2, svz_pack3 */
  TESSAREX_7Z_GROUPING = 13,      /* svz_pack3 */
  TESSAREX_7Z_BLOCK_FILES = 14,   /* svz_pack3 */
  TESSAREX_7Z_BLOCK_BYTES = 15    /* svz_pack3 */
};

/* 7z methods, converter modes, header bits and grouping modes. */
enum {
  TESSAREX_7Z_COPY = 0, TESSAREX_7Z_DEFLATE = 1, TESSAREX_7Z_BZIP2 = 2, TESSAREX_7Z_LZMA = 3,
  TESSAREX_7Z_BCJ_NEVER = 0, TESSAREX_7Z_BCJ_ALWAYS = 1, TESSAREX_7Z_BCJ_BY_EXTENSION = 2,
  TESSAREX_7Z_COMPRESS_HEADER = 1, TESSAREX_7Z_ENCRYPT_HEADER = 2,
  TESSAREX_7Z_GROUP_NONE = 0, TESSAREX_7Z_GROUP_EXECUTABLES = 1, TESSAREX_7Z_GROUP_EXTENSION = 2
};

TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_pack1(void* parent, const char* archive, const char* source,
                                                       const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_pack2(void* parent, const char* archive, const char* source,
                                                       const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_pack3(void* parent, const char* archive, const char* source,
                                                       const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_unpack1(void* parent, const char* archive, const char* directory,
                                                         const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_unpack2(void* parent, const char* archive, const char* directory,
                                                         const char* filter, const char* password,
                                                         const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_unpack3(void* parent, const char* archive, const char* directory,
                                                         const char* filter, const char* password,
                                                         const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_list(void* parent, const char* archive, const char* password,
                                                      char* output, uint32_t output_size, const uint32_t* options);

/*
 * 7z updates. Nothing is decoded or re-encrypted: packed streams are copied byte for byte
 * and the header is rebuilt, compressed and encrypted as the changed archive's header was
 * (LZMA2 and other methods this library does not write become LZMA; an encrypted header
 * keeps its cycles, salt and IV sizes and always gets a new IV). The new archive is written
 * beside the old one and renamed onto it once complete and flushed, under an advisory lock
 * (flock) on the archive; a failure leaves the old archive as it was. `work_folder` (null or
 * empty: none) must be an existing folder (0x00123601). One password serves both archives.
 * Codes about the destination (or the archive deleted from) carry place 0x01, codes about the
 * source place 0x02.
 *
 * svz_add copies the entries of `source` that `filter` matches (null or empty: all) into
 * `destination`, entry by entry; both must be archives of one folder per file (solid:
 * 0x00600101 or 0x00600201). A source entry whose name (case ignored) is in the destination
 * is added, and the destination's entry dropped, as option word [1] says: 0 never, 1
 * always, 2 when the source entry is newer; 3 or more 0x00020001. svz_add2 takes solid
 * archives too: the destination stays whole and every source folder with a matching file
 * is added whole, without comparing names. Both return 0x00010001 when the two paths name
 * one file.
 * svz_delete removes the entries `filter` matches (null or empty filter: the conversion
 * code); svz_delete2 removes a solid folder only when the filter matches all its files.
 * Option words: [0] flags (PROGRESS, ASK_PASSWORD); svz_add also [1] the mode.
 */
enum { TESSAREX_7Z_UPDATE_FLAGS = 0, TESSAREX_7Z_ADD_MODE = 1 };
enum { TESSAREX_7Z_ADD_NEVER = 0, TESSAREX_7Z_ADD_ALWAYS = 1, TESSAREX_7Z_ADD_NEWER = 2 };

TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_add(void* parent, const char* destination, const char* source,
                                                     const char* work_folder, const char* filter,
                                                     const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_add2(void* parent, const char* destination, const char* source,
                                                      const char* work_folder, const char* filter,
                                                      const char* password, const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_delete(void* parent, const char* archive, const char* work_folder,
                                                        const char* filter, const char* password,
                                                        const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_delete2(void* parent, const char* archive, const char* work_folder,
                                                         const char* filter, const char* password,
                                                         const uint32_t* options);

/*
 * 7z volumes. svz_split cuts any file (normally a 7z archive) into DIR/NAME.001, .002, ...
 * up to .999, each options[2] bytes (at least 1024) but the last; the bytes are copied as
 * they are, so 7-Zip opens the set from NAME.001. svz_join copies NAME.001 onward into
 * DIR/NAME, given any path whose last three digits it drops (or NAME itself). `directory`
 * may be null: the given file's own folder (for svz_join also where the volumes are looked
 * for). Volumes and the joined file are flushed to disk before they take their names: a
 * failed split leaves the volumes of an earlier split of the name as they were, a failed
 * join an older file of the name; a split removes older volumes of the name beyond its new
 * last one. A gap in the numbering or a volume that cannot be read fails the join
 * (0x00180000, 0x01020001); the originals are deleted only after complete success.
 */
/* Indexes of the 7z volume option words. */
enum {
  TESSAREX_7Z_VOLUME_FLAGS = 0,  /* svz_split, svz_join: PROGRESS */
  TESSAREX_7Z_DELETE_SOURCE = 1, /* svz_split: the file; svz_join: the volumes */
  TESSAREX_7Z_VOLUME_SIZE = 2    /* svz_split: bytes per volume, at least 1024 */
};

TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_split(void* parent, const char* path, const char* directory,
                                                       const uint32_t* options);
TESSAREX_API TessarexStatus TESSAREX_STDCALL svz_join(void* parent, const char* volume, const char* directory,
                                                      const uint32_t* options);

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
 *
 * tessarex_remove_temporaries removes the temporary files of writes in progress (named
 * ".NAME.tessarex-XXXXXX" beside their targets). It is async-signal-safe: a host calls it
 * from its SIGINT or SIGTERM handler before the process ends, so an interrupted call
 * leaves nothing behind. Always returns 0.
 *
 * tessarex_set_code_page chooses, for the whole process, the DOS code page in which ZIP
 * member names without the UTF-8 flag are read when they are not valid UTF-8 (extraction,
 * listing and the names updates match), for instance 932 for Japanese or 866 for Russian archives.
 * 0 returns to the default: the OEM code page Windows gives the language of LC_ALL, else
 * LC_CTYPE, else LANG (932 for ja, 866 for ru, 850 for de, 437 for en_US, C and any
 * language without one of its own). A name holding a sequence the code page does not
 * define is refused like any other undecodable name. Returns 0, or 0x00010002 for a code
 * page this system cannot decode (the choice then stays as it was).
 */
enum { TESSAREX_LANGUAGE_LOCALE = 0, TESSAREX_LANGUAGE_ENGLISH = 1, TESSAREX_LANGUAGE_JAPANESE = 2 };

TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_status_text(uint32_t code, uint32_t language, char* buffer,
                                                                  uint32_t size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_failure_text(char* buffer, uint32_t size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_remove_temporaries(void);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_set_code_page(uint32_t code_page);

/*
 * Linux extensions: the user's certificate stores and the choice of ZIP certificates.
 *
 * Certificates live in two stores under $XDG_DATA_HOME/tessarex/certificates/ (else
 * ~/.local/share/..., the home folder taken from the user database when HOME is unset):
 * "my/" holds the user's certificates with their private keys (PEM with the certificate
 * first and its key, plain or encrypted, or PKCS#12 with the empty password), "addressbook/"
 * other people's certificates (PEM or DER). Regular files of at most 1 MiB are read;
 * files that hold no certificate are skipped. A private key whose file group or others
 * may read or change is refused (0x01306302 when a key is loaded, 0x01306404 on import).
 * Certificates are named by an id: the SHA-1 fingerprint or the serial number in hex
 * (any case, ":" and blanks ignored), else a part of the subject (case matters).
 *
 * tessarex_cert_import copies a PEM, DER or PKCS#12 file into a store. Option words (2):
 * [0] flags (ASK_PASSWORD: ask for a PKCS#12 password that the empty one does not open
 * when `password` is null), [1] TESSAREX_CERT_AUTOMATIC ("my" when the file holds a
 * private key, else "addressbook"), TESSAREX_CERT_MY or TESSAREX_CERT_ADDRESSBOOK. "my"
 * receives the certificate with its key (a PKCS#12 file is kept as PEM, its key encrypted
 * under the same password, mode 0600); "addressbook" only certificates (mode 0644), never
 * a key. Folders are made with mode 0700. `message` (may be null) receives one line per
 * certificate stored: "STORE FINGERPRINT SUBJECT". Codes: 0x00016401 no certificate in
 * the file, 0x00016402 "my" without a private key, 0x00016403 the key belongs to another
 * certificate, 0x01306404 a key file group or others may read, 0x00416405 wrong PKCS#12
 * password, 0x00906406 password prompt cancelled, 0x01036407 the file cannot be read (or
 * is not a regular file of at most 1 MiB), 0x01046408 the store cannot be written.
 *
 * tessarex_cert_list writes, as pea_list does (lines ending in CR LF, 0x00280000 when the
 * buffer is too small), one block per certificate and store: "[my] SUBJECT", then its
 * issuer, serial, expiry (UTC) and SHA-1 fingerprint.
 *
 * tessarex_cert_remove removes the certificate `id` names from every store that holds it.
 * 0x00016409 when the id names none, 0x0001640A when it names several, 0x0001640C for an
 * empty id, 0x010E640B when a file cannot be removed; `message` names the candidates, or
 * what was removed.
 *
 * tessarex_choose_certificates presets the answers of the certificate pickers for the
 * next zip_pack1, zip_pack2 or zip_add call, which then shows no picker: `recipients`
 * holds ids separated by line ends (matched against "addressbook" and "my"), `signer` one
 * id (matched against "my"). Each id must name exactly one certificate: 0x00016103 /
 * 0x00016104 a recipient id names no / several certificates, 0x00016205 / 0x00016206 the
 * signer id names none / several, 0x00006201 "my" does not open; `message` then names the
 * candidates, and no choice is kept. The choice is used once and then forgotten; a call
 * with null (or empty) `recipients` and `signer` clears it.
 */
enum { TESSAREX_CERT_AUTOMATIC = 0, TESSAREX_CERT_MY = 1, TESSAREX_CERT_ADDRESSBOOK = 2 };

TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_cert_import(void* parent, const char* file,
                                                                  const char* password, const uint32_t* options,
                                                                  char* message, uint32_t message_size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_cert_list(void* parent, char* output, uint32_t output_size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_cert_remove(void* parent, const char* id, char* message,
                                                                  uint32_t message_size);
TESSAREX_API TessarexStatus TESSAREX_STDCALL tessarex_choose_certificates(const char* recipients,
                                                                          const char* signer, char* message,
                                                                          uint32_t message_size);

#ifdef __cplusplus
}
#endif

#endif /* TESSAREX_H */
