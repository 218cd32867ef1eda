#include "crypto/snow2.h"

#include <openssl/crypto.h>

#include <array>
#include <bit>

namespace tx::crypto {
namespace {

// Multiplication in GF(2^8) modulo the given polynomial (with its x^8 bit).
constexpr uint8_t GfMul(uint8_t a, uint8_t b, unsigned poly) {
  unsigned product = 0;
  unsigned x = a;
  for (int bit = 0; bit < 8; ++bit) {
    if ((b >> bit) & 1) product ^= x;
    x <<= 1;
    if (x & 0x100) x ^= poly;
  }
  return static_cast<uint8_t>(product);
}

// The register's field: beta is a root of x^8 + x^7 + x^5 + x^3 + 1.
constexpr unsigned kBetaPoly = 0x1A9;

constexpr uint8_t BetaPower(unsigned exponent) {
  uint8_t r = 1;
  for (unsigned i = 0; i < exponent % 255; ++i) r = GfMul(r, 2, kBetaPoly);
  return r;
}

// Multiplying a word by alpha, a root of x^4 + b^23 x^3 + b^245 x^2 + b^48 x + b^239 over
// GF(2^8), shifts it up one byte and folds the byte shifted out back in through these
// coefficients.
constexpr std::array<uint32_t, 256> MakeMulAlpha() {
  const uint8_t c3 = BetaPower(23), c2 = BetaPower(245), c1 = BetaPower(48), c0 = BetaPower(239);
  std::array<uint32_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    auto b = static_cast<uint8_t>(v);
    t[v] = uint32_t{GfMul(b, c3, kBetaPoly)} << 24 | uint32_t{GfMul(b, c2, kBetaPoly)} << 16 |
           uint32_t{GfMul(b, c1, kBetaPoly)} << 8 | GfMul(b, c0, kBetaPoly);
  }
  return t;
}

// Dividing by alpha shifts down one byte; the byte shifted out times alpha^-1 comes back.
// From the minimal polynomial, alpha^-1 = b^-239 (alpha^3 + b^23 alpha^2 + b^245 alpha + b^48).
constexpr std::array<uint32_t, 256> MakeDivAlpha() {
  const unsigned inv = 255 - 239;
  const uint8_t c3 = BetaPower(inv), c2 = BetaPower(inv + 23), c1 = BetaPower(inv + 245),
                c0 = BetaPower(inv + 48);
  std::array<uint32_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    auto b = static_cast<uint8_t>(v);
    t[v] = uint32_t{GfMul(b, c3, kBetaPoly)} << 24 | uint32_t{GfMul(b, c2, kBetaPoly)} << 16 |
           uint32_t{GfMul(b, c1, kBetaPoly)} << 8 | GfMul(b, c0, kBetaPoly);
  }
  return t;
}

// The AES field and S-box: inversion followed by the affine map.
constexpr unsigned kAesPoly = 0x11B;

// Walks the multiplicative group with the generator 3 (p) and its inverse (q), so that q
// is always p's inverse: cheap enough for any compiler's constant evaluation.
constexpr std::array<uint8_t, 256> MakeAesSbox() {
  std::array<uint8_t, 256> box{};
  uint8_t p = 1, q = 1;
  do {
    p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
    q = static_cast<uint8_t>(q ^ (q << 1));
    q = static_cast<uint8_t>(q ^ (q << 2));
    q = static_cast<uint8_t>(q ^ (q << 4));
    if (q & 0x80) q ^= 0x09;
    uint8_t s = q;
    for (int r = 1; r <= 4; ++r) s ^= static_cast<uint8_t>(q << r | q >> (8 - r));
    box[p] = static_cast<uint8_t>(s ^ 0x63);
  } while (p != 1);
  box[0] = 0x63;
  return box;
}

// The state machine's substitution: the AES S-box on each byte, then the AES column mix,
// with byte 0 the least significant. Byte 0's column (2, 1, 1, 3) is tabled; the other
// bytes' columns are rotations of it.
constexpr std::array<uint32_t, 256> MakeSubTable() {
  constexpr std::array<uint8_t, 256> kBox = MakeAesSbox();
  std::array<uint32_t, 256> t{};
  for (unsigned v = 0; v < 256; ++v) {
    uint8_t a = kBox[v];
    t[v] =
        uint32_t{GfMul(a, 3, kAesPoly)} << 24 | uint32_t{a} << 16 | uint32_t{a} << 8 | GfMul(a, 2, kAesPoly);
  }
  return t;
}

constexpr auto kMulAlpha = MakeMulAlpha();
constexpr auto kDivAlpha = MakeDivAlpha();
constexpr auto kSub = MakeSubTable();

inline uint32_t MulAlpha(uint32_t w) { return (w << 8) ^ kMulAlpha[w >> 24]; }
inline uint32_t DivAlpha(uint32_t w) { return (w >> 8) ^ kDivAlpha[w & 0xFF]; }

inline uint32_t Substitute(uint32_t w) {
  return kSub[w & 0xFF] ^ std::rotl(kSub[(w >> 8) & 0xFF], 8) ^ std::rotl(kSub[(w >> 16) & 0xFF], 16) ^
         std::rotl(kSub[w >> 24], 24);
}

}  // namespace

Snow2::~Snow2() { Wipe(); }

void Snow2::Wipe() {
  OPENSSL_cleanse(s_, sizeof s_);
  OPENSSL_cleanse(&pos_, sizeof pos_);
  OPENSSL_cleanse(&r1_, sizeof r1_);
  OPENSSL_cleanse(&r2_, sizeof r2_);
}

void Snow2::LoadKey(const uint8_t (&key)[16], const uint32_t (&iv)[4]) { Load(key, 4, iv); }
void Snow2::LoadKey(const uint8_t (&key)[32], const uint32_t (&iv)[4]) { Load(key, 8, iv); }

void Snow2::Load(const uint8_t* key, unsigned key_words, const uint32_t (&iv)[4]) {
  uint32_t k[8];
  for (unsigned i = 0; i < key_words; ++i)
    k[i] = uint32_t{key[4 * i]} << 24 | uint32_t{key[4 * i + 1]} << 16 | uint32_t{key[4 * i + 2]} << 8 |
           key[4 * i + 3];
  // The key fills the register from s15 downwards, followed by its complement; a 128-bit
  // key fills it twice, plain then complemented each time.
  uint32_t* s = s_;
  for (unsigned i = 0; i < 16; ++i) {
    unsigned n = i % key_words;
    bool complement = key_words == 8 ? i >= 8 : (i / 4) % 2 == 1;
    s[15 - i] = complement ? ~k[n] : k[n];
  }
  s[15] ^= iv[0];
  s[12] ^= iv[1];
  s[10] ^= iv[2];
  s[9] ^= iv[3];
  for (unsigned i = 0; i < 16; ++i) s[i + 16] = s[i];
  pos_ = 0;
  r1_ = 0;
  r2_ = 0;
  for (int i = 0; i < 32; ++i) Clock(true);
  OPENSSL_cleanse(k, sizeof k);
}

void Snow2::Clock(bool initialising) {
  const uint32_t* s = s_ + pos_;
  uint32_t f = (s[15] + r1_) ^ r2_;
  uint32_t next = MulAlpha(s[0]) ^ s[2] ^ DivAlpha(s[11]);
  if (initialising) next ^= f;
  uint32_t r1 = s[5] + r2_;
  r2_ = Substitute(r1_);
  r1_ = r1;
  s_[pos_] = next;
  s_[pos_ + 16] = next;
  pos_ = (pos_ + 1) & 15;
}

// The output before the first clocking after key loading is not used: each word comes
// from the state after one more step.
uint32_t Snow2::NextWord() {
  Clock(false);
  const uint32_t* s = s_ + pos_;
  return ((s[15] + r1_) ^ r2_) ^ s[0];
}

}  // namespace tx::crypto
