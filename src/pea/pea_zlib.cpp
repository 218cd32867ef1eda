#include "pea/pea_zlib.h"

#ifdef TX_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cstdint>
#include <new>

namespace tx::pea {

BlockDeflater::~BlockDeflater() {
  if (ready_) deflateEnd(&stream_);
}

bool BlockDeflater::Init(int level) {
  ready_ = deflateInit(&stream_, level) == Z_OK;
  return ready_;
}

long BlockDeflater::Compress(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  if (deflateReset(&stream_) != Z_OK) return -1;
  stream_.next_in = const_cast<Bytef*>(in);
  stream_.avail_in = static_cast<uInt>(size);
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(room);
  int rc = deflate(&stream_, Z_FINISH);
  if (rc == Z_STREAM_END) return static_cast<long>(stream_.total_out);
  return rc == Z_OK || rc == Z_BUF_ERROR ? 0 : -1;  // out of room: stored as it is
}

#ifdef TX_HAVE_ISAL

struct BlockInflater::State {
  inflate_state isal;
};

BlockInflater::BlockInflater() = default;
BlockInflater::~BlockInflater() = default;

bool BlockInflater::Init() {
  state_.reset(new (std::nothrow) State);
  return state_ != nullptr;
}

long BlockInflater::Inflate(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  if (!state_ || size > UINT32_MAX || room > UINT32_MAX) return -1;
  // A header naming a window beyond 32 KiB is no zlib stream; ISA-L would read on.
  if (size > 0 && in[0] >> 4 > 7) return -1;
  inflate_state& s = state_->isal;
  isal_inflate_init(&s);
  // Header checked, Adler-32 checked; a preset dictionary stops it unfinished.
  s.crc_flag = ISAL_ZLIB;
  s.next_in = const_cast<uint8_t*>(in);
  s.avail_in = static_cast<uint32_t>(size);
  s.next_out = out;
  s.avail_out = static_cast<uint32_t>(room);
  const int rc = isal_inflate(&s);
  return rc >= 0 && s.block_state == ISAL_BLOCK_FINISH ? static_cast<long>(s.total_out) : -1;
}

#else

struct BlockInflater::State {
  z_stream stream{};
  ~State() { inflateEnd(&stream); }
};

BlockInflater::BlockInflater() = default;
BlockInflater::~BlockInflater() = default;

bool BlockInflater::Init() {
  std::unique_ptr<State> state(new (std::nothrow) State);
  if (!state || inflateInit(&state->stream) != Z_OK) return false;
  state_ = std::move(state);
  return true;
}

long BlockInflater::Inflate(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  if (!state_) return -1;
  z_stream& z = state_->stream;
  if (inflateReset(&z) != Z_OK) return -1;
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = out;
  z.avail_out = static_cast<uInt>(room);
  int rc = inflate(&z, Z_FINISH);
  return rc == Z_STREAM_END ? static_cast<long>(z.total_out) : -1;
}

#endif

}  // namespace tx::pea
