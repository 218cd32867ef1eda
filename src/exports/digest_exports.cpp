// The file digest exports.
#include "frame/digest.h"
#include "tessarex.h"

using tx::frame::DigestAlgorithm;
using tx::frame::FileDigest;

extern "C" {

TessarexStatus TESSAREX_STDCALL file_crc32(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Crc32, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_crc64(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Crc64, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_md5(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Md5, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_ripemd160(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Ripemd160, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_sha1(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Sha1, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_sha256(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Sha256, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_sha512(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Sha512, parent, path, flags, result);
}
TessarexStatus TESSAREX_STDCALL file_whirlpool(void* parent, const char* path, uint32_t flags, void* result) {
  return FileDigest(DigestAlgorithm::Whirlpool, parent, path, flags, result);
}

}  // extern "C"
