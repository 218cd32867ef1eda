// Moving bytes between two open files: inside the kernel while the two files allow it,
// else through one buffer. Updates, volumes and joins all copy this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "frame/status.h"
#include "platform/file.h"

namespace tx::frame {

class FileCopier {
 public:
  static constexpr size_t kBufferSize = 65536;
  // A kernel copy moves this much between progress reports.
  static constexpr size_t kKernelPiece = size_t{1} << 20;

  // What a copy returns for a failed or short read, a failed write, and a cancel.
  struct Codes {
    StatusCode read, write, cancelled;
  };

  // The buffer, once; false when it cannot be had.
  bool Allocate() {
    if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[kBufferSize]);
    return buffer_ != nullptr;
  }

  // Copies `size` bytes from `in`'s position to `out`'s. After each piece `stop(done)`,
  // with the bytes copied so far, says whether to cancel. Needs Allocate first.
  template <typename Stop>
  StatusCode Copy(platform::File& in, platform::File& out, uint64_t size, const Codes& codes, Stop&& stop) {
    for (uint64_t done = 0; done < size;) {
      size_t piece =
          static_cast<size_t>(std::min<uint64_t>(kernel_ ? kKernelPiece : kBufferSize, size - done));
      size_t moved = 0;
      if (kernel_ && !out.CopyFrom(in, piece, moved)) kernel_ = false;
      // A short kernel copy is finished the ordinary way, where a short read is the failure.
      if (moved == 0) {
        piece = std::min(piece, kBufferSize);
        if (!in.Read(buffer_.get(), piece)) return codes.read;
        if (!out.Write(buffer_.get(), piece)) return codes.write;
        moved = piece;
      }
      done += moved;
      if (stop(done)) return codes.cancelled;
    }
    return kOk;
  }

 private:
  std::unique_ptr<uint8_t[]> buffer_;
  bool kernel_ = true;  // until the kernel refuses to copy between the files
};

}  // namespace tx::frame
