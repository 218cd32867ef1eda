// Little-endian fields in byte buffers, as every archive record stores them: plain loads
// and stores for fields whose room the caller has checked, a reader that refuses to look
// past its buffer, and a writer that refuses to write past its capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tx::frame {

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline uint64_t LoadU64(const uint8_t* p) { return LoadU32(p) | uint64_t{LoadU32(p + 4)} << 32; }

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void StoreU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void StoreU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Fields at offsets of a buffer. A field that does not lie wholly inside reads as 0 and
// clears ok(), so a parser may read a whole record and test once.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Has(size_t at, size_t n) const { return at <= size_ && n <= size_ - at; }
  uint8_t U8(size_t at) { return Has(at, 1) ? data_[at] : Fail<uint8_t>(); }
  uint16_t U16(size_t at) { return Has(at, 2) ? LoadU16(data_ + at) : Fail<uint16_t>(); }
  uint32_t U32(size_t at) { return Has(at, 4) ? LoadU32(data_ + at) : Fail<uint32_t>(); }
  uint64_t U64(size_t at) { return Has(at, 8) ? LoadU64(data_ + at) : Fail<uint64_t>(); }
  // The bytes from `at` on, or null (clearing ok()) when fewer than `n` are there.
  const uint8_t* Span(size_t at, size_t n) { return Has(at, n) ? data_ + at : Fail<const uint8_t*>(); }
  size_t size() const { return size_; }
  bool ok() const { return ok_; }

 private:
  template <typename T>
  T Fail() {
    ok_ = false;
    return T{};
  }
  const uint8_t* data_;
  size_t size_;
  bool ok_ = true;
};

// Appends fields to a buffer of `capacity` bytes. What would not fit is not written and
// clears ok(); size() still counts it, so a caller sees how much was needed.
class ByteWriter {
 public:
  ByteWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void U8(uint8_t v) { Put(&v, 1); }
  void U16(uint16_t v) {
    uint8_t b[2];
    StoreU16(b, v);
    Put(b, 2);
  }
  void U32(uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    Put(b, 4);
  }
  void U64(uint64_t v) {
    uint8_t b[8];
    StoreU64(b, v);
    Put(b, 8);
  }
  void Bytes(const uint8_t* data, size_t n) { Put(data, n); }
  // Writes over a field already appended (a length known only at the end).
  void PatchU16(size_t at, uint16_t v) {
    if (at + 2 <= size_ && at + 2 <= capacity_) StoreU16(out_ + at, v);
  }
  void PatchU32(size_t at, uint32_t v) {
    if (at + 4 <= size_ && at + 4 <= capacity_) StoreU32(out_ + at, v);
  }
  size_t size() const { return size_; }
  bool ok() const { return ok_; }

 private:
  void Put(const uint8_t* data, size_t n) {
    if (ok_ && n <= capacity_ - size_) {
      if (n > 0) std::memcpy(out_ + size_, data, n);
    } else {
      ok_ = false;
    }
    size_ += n;
  }
  uint8_t* out_;
  size_t capacity_;
  size_t size_ = 0;
  bool ok_ = true;
};

}  // namespace tx::frame
