#include "pea/pea_check.h"

#include <zlib.h>

#include <cstring>

#include "crypto/crc.h"

namespace tx::pea {

namespace {

struct Algorithm {
  uint8_t id;
  size_t size;
  const char* name;
};

constexpr Algorithm kAlgorithms[] = {
    {kCheckAdler32, 4, "Alder32"},  // the name archives have always shown
    {kCheckCrc32, 4, "CRC32"},
    {kCheckCrc64, 8, "CRC64"},
    {kCheckMd5, 16, "MD5"},
    {kCheckRipemd160, 20, "RIPEMD-160"},
    {kCheckSha1, 20, "SHA-1"},
    {kCheckSha256, 32, "SHA-256"},
    {kCheckSha512, 64, "SHA-512"},
    {kCheckWhirlpool, 64, "Whirlpool"},
    {kModeAes128Hmac, 16, "AES-128 & HMAC-SHA1"},
    {kModeAes128Eax, 16, "AES-128 & OMAC-AES"},
    {kModeAes256Eax, 16, "AES-256 & OMAC-AES"},
};

const Algorithm* Find(uint8_t id) {
  for (const Algorithm& a : kAlgorithms)
    if (a.id == id) return &a;
  return nullptr;
}

template <typename Context, typename Init>
size_t StartDigest(PeaCheckState& state, Init init, size_t size) {
  Context& ctx = state.value.emplace<Context>();
  if (!init(ctx)) {
    state.failed = true;
    state.value.emplace<std::monostate>();
    return 0;
  }
  return size;
}

}  // namespace

bool IsCheckAlgorithm(uint8_t id) { return id != kCheckNone && id < 48 && Find(id) != nullptr; }
bool IsEncryptionMode(uint8_t id) { return id >= 48; }

size_t CheckSize(uint8_t id) {
  const Algorithm* a = id < 48 ? Find(id) : nullptr;
  return a ? a->size : 0;
}

uint8_t MismatchClass(uint8_t id) { return id < 16 ? 0x61 : id < 48 ? 0x62 : 0x42; }

size_t pea_check_init(uint8_t algorithm, PeaCheckState& state) {
  state.id = algorithm;
  state.failed = false;
  switch (algorithm) {
    case kCheckAdler32: state.value = static_cast<uint32_t>(adler32(0, nullptr, 0)); return 4;
    case kCheckCrc32: state.value = 0xFFFFFFFFu; return 4;
    case kCheckCrc64: state.value = ~uint64_t{0}; return 8;
    case kCheckMd5: return StartDigest<crypto::Md5Context>(state, crypto::Md5Init, 16);
    case kCheckRipemd160: return StartDigest<crypto::Rmd160Context>(state, crypto::Rmd160Init, 20);
    case kCheckSha1: return StartDigest<crypto::Sha1Context>(state, crypto::Sha1Init, 20);
    case kCheckSha256: return StartDigest<crypto::Sha256Context>(state, crypto::Sha256Init, 32);
    case kCheckSha512: return StartDigest<crypto::Sha512Context>(state, crypto::Sha512Init, 64);
    case kCheckWhirlpool: return StartDigest<crypto::WhirlpoolContext>(state, crypto::WhirlpoolInit, 64);
    default: state.value.emplace<std::monostate>(); return 0;
  }
}

void pea_check_update(const void* data, size_t length, uint8_t algorithm, PeaCheckState& state) {
  if (state.id != algorithm || length == 0) return;
  const auto* p = static_cast<const Bytef*>(data);
  switch (algorithm) {
    case kCheckAdler32: {
      uint32_t& a = std::get<uint32_t>(state.value);
      a = static_cast<uint32_t>(adler32_z(a, p, length));
      break;
    }
    case kCheckCrc32: {
      uint32_t& r = std::get<uint32_t>(state.value);
      r = crypto::Crc32Update(r, p, length);
      break;
    }
    case kCheckCrc64: {
      uint64_t& r = std::get<uint64_t>(state.value);
      r = crypto::Crc64Update(r, p, length);
      break;
    }
    default:
      std::visit(
          [&](auto& ctx) {
            using T = std::decay_t<decltype(ctx)>;
            if constexpr (std::is_same_v<T, crypto::Md5Context>) crypto::Md5Update(ctx, p, length);
            if constexpr (std::is_same_v<T, crypto::Rmd160Context>) crypto::Rmd160Update(ctx, p, length);
            if constexpr (std::is_same_v<T, crypto::Sha1Context>) crypto::Sha1Update(ctx, p, length);
            if constexpr (std::is_same_v<T, crypto::Sha256Context>) crypto::Sha256Update(ctx, p, length);
            if constexpr (std::is_same_v<T, crypto::Sha512Context>) crypto::Sha512Update(ctx, p, length);
            if constexpr (std::is_same_v<T, crypto::WhirlpoolContext>) crypto::WhirlpoolUpdate(ctx, p, length);
          },
          state.value);
  }
}

size_t pea_check_final(uint8_t algorithm, uint8_t* out, PeaCheckState& state) {
  if (state.id != algorithm) return 0;
  size_t size = 0;
  std::visit(
      [&](auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, uint32_t>) {
          uint32_t value = algorithm == kCheckCrc32 ? ~v : v;
          std::memcpy(out, &value, size = 4);
        } else if constexpr (std::is_same_v<T, uint64_t>) {
          uint64_t value = ~v;
          std::memcpy(out, &value, size = 8);
        } else if constexpr (std::is_same_v<T, crypto::Md5Context>) {
          crypto::Md5Final(v, out), size = 16;
        } else if constexpr (std::is_same_v<T, crypto::Rmd160Context>) {
          crypto::Rmd160Final(v, out), size = 20;
        } else if constexpr (std::is_same_v<T, crypto::Sha1Context>) {
          crypto::Sha1Final(v, out), size = 20;
        } else if constexpr (std::is_same_v<T, crypto::Sha256Context>) {
          crypto::Sha256Final(v, out), size = 32;
        } else if constexpr (std::is_same_v<T, crypto::Sha512Context>) {
          crypto::Sha512Final(v, out), size = 64;
        } else if constexpr (std::is_same_v<T, crypto::WhirlpoolContext>) {
          crypto::WhirlpoolFinal(v, out), size = 64;
        }
      },
      state.value);
  state.value.emplace<std::monostate>();
  state.id = kCheckNone;
  return size;
}

std::string pea_check_name(int kind, uint8_t algorithm) {
  const Algorithm* a = Find(algorithm);
  std::string name = a ? a->name : "unknown (" + std::to_string(algorithm) + ")";
  switch (kind) {
    case 1: return "Volume control tag (" + name + ")";
    case 2: return "Stream control tag (" + name + ")";
    case 3: return "Object control tag (" + name + ")";
    default: return name;
  }
}

}  // namespace tx::pea
