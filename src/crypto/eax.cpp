#include "crypto/eax.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "crypto/xor.h"

namespace tx::crypto {
namespace {

constexpr size_t kBlock = kAesBlockSize;

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return std::endian::native == std::endian::little ? __builtin_bswap64(v) : v;
}

void StoreBigEndian64(uint8_t* p, uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}


// Multiplication by x in GF(2^128), as CMAC derives its subkeys.
void Double(const uint8_t* in, uint8_t* out) {
  uint8_t carry = in[0] >> 7;
  for (size_t i = 0; i + 1 < kBlock; ++i) out[i] = static_cast<uint8_t>((in[i] << 1) | (in[i + 1] >> 7));
  out[kBlock - 1] = static_cast<uint8_t>((in[kBlock - 1] << 1) ^ (carry ? 0x87 : 0));
}

}  // namespace

// ---- counter mode ----

void AesCtrStream::Start(const uint8_t counter[kAesBlockSize]) {
  std::memcpy(counter_, counter, kBlock);
  used_ = sizeof stream_;
}

bool AesCtrStream::Refill(const AesEncryptContext& key) {
  uint64_t high = LoadBigEndian64(counter_);
  uint64_t low = LoadBigEndian64(counter_ + 8);
  for (size_t i = 0; i < kBlocks; ++i) {
    StoreBigEndian64(stream_ + i * kBlock, high);
    StoreBigEndian64(stream_ + i * kBlock + 8, low);
    if (++low == 0) ++high;
  }
  StoreBigEndian64(counter_, high);
  StoreBigEndian64(counter_ + 8, low);
  if (!AesEcbEncrypt(stream_, stream_, kBlocks, key)) {
    OPENSSL_cleanse(stream_, sizeof stream_);
    return false;
  }
  used_ = 0;
  return true;
}

bool AesCtrStream::Apply(uint8_t* data, size_t size, const AesEncryptContext& key) {
  while (size > 0) {
    if (used_ == sizeof stream_ && !Refill(key)) {
      std::memset(data, 0, size);
      return false;
    }
    size_t n = std::min(size, sizeof stream_ - used_);
    XorInto(data, stream_ + used_, n);
    used_ += n;
    data += n;
    size -= n;
  }
  return true;
}

void AesCtrStream::Wipe() {
  OPENSSL_cleanse(counter_, sizeof counter_);
  OPENSSL_cleanse(stream_, sizeof stream_);
  used_ = sizeof stream_;
}

// ---- OMAC ----

namespace detail {

void Omac::Start(uint8_t tweak) {
  std::memset(value_, 0, kBlock);
  std::memset(pending_, 0, kBlock);
  pending_[kBlock - 1] = tweak;
  pending_size_ = kBlock;
}

bool Omac::Update(const uint8_t* data, size_t size, AesEncryptContext& key) {
  if (size == 0) return true;
  if (pending_size_ < kBlock) {
    size_t take = std::min(kBlock - pending_size_, size);
    std::memcpy(pending_ + pending_size_, data, take);
    pending_size_ += take;
    data += take;
    size -= take;
    if (size == 0) return true;
  }
  // More follows, so the held block is not the last one. Absorb it and every whole block
  // after it except the last 1 to 16 bytes, which become the held block.
  size_t keep = size % kBlock == 0 ? kBlock : size % kBlock;
  size_t rest = size - keep;
  std::memcpy(scratch_, pending_, kBlock);
  size_t filled = kBlock;
  for (;;) {
    size_t take = std::min(rest, kScratch - filled);
    std::memcpy(scratch_ + filled, data, take);
    // CBC with the running MAC as chaining value leaves the CBC-MAC in value_.
    if (!AesCbcEncrypt(scratch_, filled + take, value_, key)) return false;
    data += take;
    rest -= take;
    filled = 0;
    if (rest == 0) break;
  }
  std::memcpy(pending_, data, keep);
  pending_size_ = keep;
  return true;
}

bool Omac::Final(const uint8_t* k1, const uint8_t* k2, AesEncryptContext& key, uint8_t* out) {
  if (pending_size_ == kBlock) {
    XorInto(pending_, k1, kBlock);
  } else {
    pending_[pending_size_] = 0x80;
    std::memset(pending_ + pending_size_ + 1, 0, kBlock - pending_size_ - 1);
    XorInto(pending_, k2, kBlock);
  }
  XorInto(value_, pending_, kBlock);
  bool ok = AesEncryptBlock(value_, out, key);
  if (!ok) std::memset(out, 0, kBlock);
  Wipe();
  return ok;
}

void Omac::Wipe() {
  OPENSSL_cleanse(value_, sizeof value_);
  OPENSSL_cleanse(pending_, sizeof pending_);
  OPENSSL_cleanse(scratch_, sizeof scratch_);
  pending_size_ = 0;
}

}  // namespace detail

// ---- EAX ----

void EaxContext::Wipe() {
  aes_ = AesEncryptContext{};  // OpenSSL frees the old key schedule with a wiping free
  ctr_.Wipe();
  mac_.Wipe();
  OPENSSL_cleanse(k1_, sizeof k1_);
  OPENSSL_cleanse(k2_, sizeof k2_);
  OPENSSL_cleanse(fixed_tag_, sizeof fixed_tag_);
  ready_ = false;
}

bool EaxInit(EaxContext& ctx, const void* key, size_t key_len, const void* nonce, size_t nonce_len,
             const void* header, size_t header_len) {
  ctx.Wipe();
  if (key_len != 16 && key_len != 24 && key_len != 32) return false;
  if (AesSetEncryptKey(key, static_cast<unsigned>(key_len), ctx.aes_) != kAesKeyOk) return false;
  uint8_t l[kBlock] = {};
  uint8_t n[kBlock];
  uint8_t h[kBlock];
  bool ok = AesEncryptBlock(l, l, ctx.aes_);
  Double(l, ctx.k1_);
  Double(ctx.k1_, ctx.k2_);
  ctx.mac_.Start(0);
  ok = ok && ctx.mac_.Update(static_cast<const uint8_t*>(nonce), nonce_len, ctx.aes_) &&
       ctx.mac_.Final(ctx.k1_, ctx.k2_, ctx.aes_, n);
  ctx.mac_.Start(1);
  ok = ok && ctx.mac_.Update(static_cast<const uint8_t*>(header), header_len, ctx.aes_) &&
       ctx.mac_.Final(ctx.k1_, ctx.k2_, ctx.aes_, h);
  if (ok) {
    for (size_t i = 0; i < kBlock; ++i) ctx.fixed_tag_[i] = n[i] ^ h[i];
    ctx.ctr_.Start(n);
    ctx.mac_.Start(2);
    ctx.ready_ = true;
  } else {
    ctx.Wipe();
  }
  OPENSSL_cleanse(l, sizeof l);
  OPENSSL_cleanse(n, sizeof n);
  OPENSSL_cleanse(h, sizeof h);
  return ok;
}

namespace {

// Pieces small enough that the MAC pass finds the bytes the counter pass left in cache.
constexpr size_t kChunk = detail::Omac::kScratch;

}  // namespace

bool EaxEncrypt(EaxContext& ctx, uint8_t* data, size_t size) {
  bool ok = ctx.ready_;
  while (ok && size > 0) {
    size_t n = std::min(size, kChunk);
    ok = ctx.ctr_.Apply(data, n, ctx.aes_) && ctx.mac_.Update(data, n, ctx.aes_);
    if (!ok) break;
    data += n;
    size -= n;
  }
  if (ok) return true;
  // Never hand out plain text or a half-made piece as cipher text.
  if (size > 0) std::memset(data, 0, size);
  ctx.Wipe();
  return false;
}

bool EaxDecrypt(EaxContext& ctx, uint8_t* data, size_t size) {
  bool ok = ctx.ready_;
  while (ok && size > 0) {
    size_t n = std::min(size, kChunk);
    ok = ctx.mac_.Update(data, n, ctx.aes_) && ctx.ctr_.Apply(data, n, ctx.aes_);
    if (!ok) break;
    data += n;
    size -= n;
  }
  if (ok) return true;
  if (size > 0) std::memset(data, 0, size);
  ctx.Wipe();
  return false;
}

bool EaxFinal(EaxContext& ctx, uint8_t* tag) {
  bool ok = ctx.ready_ && ctx.mac_.Final(ctx.k1_, ctx.k2_, ctx.aes_, tag);
  if (ok) {
    XorInto(tag, ctx.fixed_tag_, kBlock);
  } else {
    std::memset(tag, 0, kEaxTagSize);
  }
  ctx.Wipe();
  return ok;
}

}  // namespace tx::crypto
