#include "pea/pea_zlib.h"

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

BlockInflater::~BlockInflater() {
  if (ready_) inflateEnd(&stream_);
}

bool BlockInflater::Init() {
  ready_ = inflateInit(&stream_) == Z_OK;
  return ready_;
}

long BlockInflater::Inflate(const uint8_t* in, size_t size, uint8_t* out, size_t room) {
  if (inflateReset(&stream_) != Z_OK) return -1;
  stream_.next_in = const_cast<Bytef*>(in);
  stream_.avail_in = static_cast<uInt>(size);
  stream_.next_out = out;
  stream_.avail_out = static_cast<uInt>(room);
  int rc = inflate(&stream_, Z_FINISH);
  return rc == Z_STREAM_END ? static_cast<long>(stream_.total_out) : -1;
}

}  // namespace tx::pea
