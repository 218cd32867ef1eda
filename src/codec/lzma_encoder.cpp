#include "codec/lzma_encoder.h"

#include <algorithm>

#include "codec/lzma_sdk.h"

namespace tx::codec {

namespace {

// The SDK hands each callback the address of its interface; the adapters start with it.
struct SourceAdapter {
  ISeqInStream stream;
  ByteSource* source;
  bool failed = false;

  static SRes Read(void* self, void* buffer, size_t* size) {
    auto* adapter = static_cast<SourceAdapter*>(self);
    if (adapter->source->Read(static_cast<uint8_t*>(buffer), *size)) return SZ_OK;
    adapter->failed = true;
    *size = 0;
    return SZ_ERROR_READ;
  }
};

struct SinkAdapter {
  ISeqOutStream stream;
  ByteSink* sink;
  bool failed = false;

  static size_t Write(void* self, const void* data, size_t size) {
    auto* adapter = static_cast<SinkAdapter*>(self);
    if (!adapter->failed && adapter->sink->Write(static_cast<const uint8_t*>(data), size)) return size;
    adapter->failed = true;
    return 0;
  }
};

struct ProgressAdapter {
  ICompressProgress progress;
  EncodeProgress* target;
  bool cancelled = false;

  static SRes Progress(void* self, UInt64 consumed, UInt64) {
    auto* adapter = static_cast<ProgressAdapter*>(self);
    if (adapter->target->Advance(consumed)) return SZ_OK;
    adapter->cancelled = true;
    return SZ_ERROR_PROGRESS;
  }
};

// The smallest dictionary of the form 2^i or 3 * 2^(i-1), i from 12 up to `below`, that
// holds `size` bytes; 0 when there is none.
uint32_t FittingDictionary(uint64_t size, int below) {
  for (int i = 12; i < below; ++i) {
    if (size <= uint64_t{1} << i) return 1u << i;
    if (size <= uint64_t{3} << (i - 1)) return 3u << (i - 1);
  }
  return 0;
}

// An encoder handle that goes with its scope.
class EncoderHandle {
 public:
  EncoderHandle() : handle_(LzmaEnc_Create(LzmaAllocator())) {}
  ~EncoderHandle() {
    if (handle_ != nullptr) LzmaEnc_Destroy(handle_, LzmaAllocator(), LzmaAllocator());
  }
  EncoderHandle(const EncoderHandle&) = delete;
  EncoderHandle& operator=(const EncoderHandle&) = delete;
  CLzmaEncHandle get() const { return handle_; }

 private:
  CLzmaEncHandle handle_;
};

}  // namespace

LzmaSettings LzmaDataSettings(uint32_t level, uint64_t input_size) {
  const int l = static_cast<int>(std::clamp<uint32_t>(level, 1, 9));
  LzmaSettings s;
  s.level = l;
  s.binary_tree = l >= 5 ? 1 : 0;
  s.fast_bytes = l >= 7 ? 64 : 32;
  s.hash_bytes = 4;
  s.match_cycles = static_cast<uint32_t>(16 + s.fast_bytes / 2) >> (s.binary_tree ? 0 : 1);
  const int d = l <= 5 ? 2 * l + 14 : l <= 7 ? 25 : 26;
  const uint32_t fitting = FittingDictionary(input_size, d);
  s.dictionary = fitting != 0 ? fitting : 1u << d;
  return s;
}

LzmaSettings LzmaHeaderSettings(uint64_t header_size) {
  constexpr uint32_t kMost = 1u << 20;
  LzmaSettings s;
  s.level = 5;
  s.fast_bytes = 273;
  s.binary_tree = 1;
  s.hash_bytes = 2;
  const uint32_t fitting = FittingDictionary(header_size, 20);
  s.dictionary = fitting != 0 ? fitting : kMost;
  return s;
}

Outcome LzmaEncode(const LzmaSettings& settings, ByteSource& source, ByteSink& sink, EncodeProgress* progress,
                   uint8_t properties[5]) {
  SRes result = SZ_ERROR_THREAD;
  SourceAdapter in{{&SourceAdapter::Read}, &source};
  SinkAdapter out{{&SinkAdapter::Write}, &sink};
  ProgressAdapter tracker{{&ProgressAdapter::Progress}, progress};
  // A thread that cannot be started fails the set-up before any input is read.
  for (int threads = settings.threads > 1 ? 2 : 1; threads >= 1 && result == SZ_ERROR_THREAD; --threads) {
    EncoderHandle encoder;
    if (encoder.get() == nullptr) return Outcome::kNoMemory;
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = settings.level;
    props.dictSize = settings.dictionary;
    props.lc = settings.lc;
    props.lp = settings.lp;
    props.pb = settings.pb;
    props.fb = settings.fast_bytes;
    props.btMode = settings.binary_tree;
    props.numHashBytes = settings.hash_bytes;
    props.mc = settings.match_cycles;
    props.writeEndMark = 0;
    props.numThreads = threads;
    result = LzmaEnc_SetProps(encoder.get(), &props);
    SizeT written = LZMA_PROPS_SIZE;
    if (result == SZ_OK) result = LzmaEnc_WriteProperties(encoder.get(), properties, &written);
    if (result != SZ_OK) return result == SZ_ERROR_MEM ? Outcome::kNoMemory : Outcome::kSetupFailed;
    result =
        LzmaEnc_Encode(encoder.get(), &out.stream, &in.stream,
                       progress != nullptr ? &tracker.progress : nullptr, LzmaAllocator(), LzmaAllocator());
  }
  // The callbacks know best what went wrong; the SDK may report a failed read as the end.
  if (in.failed) return Outcome::kReadFailed;
  if (out.failed) return Outcome::kWriteFailed;
  if (tracker.cancelled) return Outcome::kCancelled;
  switch (result) {
    case SZ_OK: return Outcome::kOk;
    case SZ_ERROR_MEM: return Outcome::kNoMemory;
    case SZ_ERROR_READ: return Outcome::kReadFailed;
    case SZ_ERROR_WRITE: return Outcome::kWriteFailed;
    case SZ_ERROR_PROGRESS: return Outcome::kCancelled;
    default: return Outcome::kSetupFailed;
  }
}

}  // namespace tx::codec
