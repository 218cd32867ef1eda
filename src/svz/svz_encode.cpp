#include "svz/svz_encode.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/crc.h"
#include "frame/random.h"
#include "platform/system.h"
#include "ui/progress.h"

namespace tx::svz {

namespace {

using platform::SysCall;
constexpr uint32_t kTextPacking = 3002;

// Occurrence groups of the coder codes by method, as for every format: Deflate 0x1x,
// BZip2 0x2x, LZMA 0x3x.
uint8_t MethodSite(uint32_t method) { return static_cast<uint8_t>(0x10 * method); }

}  // namespace

StatusCode FolderWriteCode(const EncodeSites& sites, uint32_t method) {
  if (sites.place == place::kPackFolder)
    return SystemCode(SysCall::WriteFile, sites.place,
                      static_cast<uint8_t>(MethodSite(method) + 0x01 + (method == kLzma)));
  return SystemCode(SysCall::WriteFile, sites.place, static_cast<uint8_t>(0x12 + 4 * method));
}

EncodeSites FolderSites() {
  EncodeSites s;
  s.place = place::kPackFolder;
  s.open = SystemCode(SysCall::CreateFile, s.place, 0x01);
  s.read = SystemCode(SysCall::ReadFile, s.place, 0x01);
  s.cancel = ConditionCode(Cls::Cancelled, s.place, 0x01);
  s.pad = SystemCode(SysCall::WriteFile, s.place, 0x05);
  s.lzma_pad = SystemCode(SysCall::WriteFile, s.place, 0x31);
  return s;
}

EncodeSites SolidSites() {
  EncodeSites s;
  s.place = 0;
  s.open = SystemCode(SysCall::CreateFile, 0, 0x02);
  s.read = SystemCode(SysCall::ReadFile, 0, 0x00);
  s.cancel = ConditionCode(Cls::Cancelled, 0, 0x04);
  s.pad = s.lzma_pad = SystemCode(SysCall::WriteFile, 0, 0x06);
  s.announce_files = true;
  return s;
}

// --- CipherWriter ---

void CipherWriter::Begin(platform::File* archive, StreamCipher* cipher, StatusCode write_failure) {
  archive_ = archive;
  cipher_ = cipher;
  write_failure_ = write_failure;
  used_ = 0;
  coded_ = packed_ = 0;
  failure_ = 0;
}

bool CipherWriter::Flush(size_t size) {
  if (cipher_ != nullptr && !cipher_->Run(buffer_, size)) {
    failure_ = ConditionCode(Cls::NoMemory, place::kPackFolder, 0x05);
    return false;
  }
  if (!archive_->Write(buffer_, size)) {
    failure_ = write_failure_;
    return false;
  }
  packed_ += size;
  used_ = 0;
  return true;
}

bool CipherWriter::Write(const uint8_t* data, size_t size) {
  coded_ += size;
  if (cipher_ == nullptr && used_ == 0 && size >= kEncodeBlock) {
    // Nothing to transform: large pieces go straight out.
    if (!archive_->Write(data, size)) {
      failure_ = write_failure_;
      return false;
    }
    packed_ += size;
    return true;
  }
  while (size != 0) {
    size_t n = std::min(size, kEncodeBlock - used_);
    std::memcpy(buffer_ + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
    if (used_ == kEncodeBlock && !Flush(used_)) return false;
  }
  return true;
}

bool CipherWriter::Finish() {
  size_t size = used_;
  if (cipher_ != nullptr && size % 16 != 0) {
    size_t padded = (size + 15) / 16 * 16;
    std::memset(buffer_ + size, 0, padded - size);
    size = padded;
  }
  return size == 0 || Flush(size);
}

// --- SolidReader ---

void SolidReader::Begin(const SourceFile* files, size_t count, bool bcj, bool progress,
                        const EncodeSites& sites, uint32_t* crcs) {
  files_ = files;
  count_ = count;
  index_ = 0;
  file_.Close();
  open_ = done_ = false;
  left_ = 0;
  crcs_ = crcs;
  bcj_ = bcj;
  converter_.Reset();
  carry_size_ = pending_size_ = pending_pos_ = 0;
  progress_ = progress;
  sites_ = sites;
  failure_ = 0;
  total_ = consumed_ = 0;
  for (size_t i = 0; i < count; ++i) total_ += files[i].size;
}

bool SolidReader::NextFile() {
  if (open_) {
    file_.Close();
    open_ = false;
    crcs_[index_] = ~crc_;
    ++index_;
  }
  if (index_ == count_) {
    done_ = true;
    return true;
  }
  const SourceFile& f = files_[index_];
  if (sites_.announce_files && progress_ &&
      ui::ProgressOpen(sites_.item_base + static_cast<uint32_t>(index_) + 1, sites_.item_total, kTextPacking,
                       nullptr, nullptr, f.name.c_str()) != ui::kProgressGoOn) {
    failure_ = sites_.cancel;
    return false;
  }
  if (!file_.Open(f.path.c_str(), platform::Access::Read, platform::Disposition::OpenExisting, true)) {
    failure_ = sites_.open;
    return false;
  }
  open_ = true;
  left_ = f.size;
  crc_ = 0xFFFFFFFFu;
  return true;
}

bool SolidReader::Fill(uint8_t* buffer, size_t size, size_t& filled) {
  while (filled < size && !done_) {
    if (!open_ || left_ == 0) {
      if (!NextFile()) return false;
      continue;
    }
    if (sites_.stop != nullptr && sites_.stop->load(std::memory_order_relaxed)) {
      failure_ = sites_.cancel;
      return false;
    }
    size_t want = std::min<uint64_t>({size - filled, left_, kEncodeBlock});
    // Exactly the size the header will record: a file that lost bytes since the walk
    // fails here instead of shifting every later file of the block.
    if (!file_.Read(buffer + filled, want)) {
      failure_ = sites_.read;
      return false;
    }
    crc_ = crypto::Crc32Update(crc_, buffer + filled, want);
    filled += want;
    left_ -= want;
    consumed_ += want;
    if (progress_ &&
        ui::ProgressUpdate(static_cast<uint32_t>(consumed_ * 100 / total_)) != ui::kProgressGoOn) {
      failure_ = sites_.cancel;
      return false;
    }
  }
  return true;
}

bool SolidReader::Read(uint8_t* buffer, size_t& size) {
  if (!bcj_) {
    size_t filled = 0;
    if (!Fill(buffer, size, filled)) return false;
    size = filled;
    return true;
  }
  // Converted bytes a tiny request could not take go first.
  if (pending_size_ != 0) {
    size = std::min(size, pending_size_);
    std::memcpy(buffer, pending_ + pending_pos_, size);
    pending_pos_ += size;
    pending_size_ -= size;
    return true;
  }
  // The converter needs a few bytes of look-ahead: a tiny request is served from a
  // slightly larger one of our own.
  if (size < 16) {
    size_t got = sizeof pending_;
    if (!ReadConverted(pending_, got)) return false;
    pending_pos_ = 0;
    pending_size_ = got;
    if (got == 0) {
      size = 0;
      return true;
    }
    return Read(buffer, size);
  }
  return ReadConverted(buffer, size);
}

bool SolidReader::ReadConverted(uint8_t* buffer, size_t& size) {
  std::memcpy(buffer, carry_, carry_size_);
  size_t filled = carry_size_;
  carry_size_ = 0;
  if (!Fill(buffer, size, filled)) return false;
  size_t final_bytes = converter_.Convert(buffer, filled);
  if (done_) final_bytes = filled;  // the stream's last bytes pass unconverted
  carry_size_ = filled - final_bytes;
  std::memcpy(carry_, buffer + final_bytes, carry_size_);
  size = final_bytes;
  return true;
}

// --- FolderEncoder ---

bool FolderEncoder::Allocate() {
  input_.reset(new (std::nothrow) uint8_t[kEncodeBlock]);
  output_.reset(new (std::nothrow) uint8_t[kEncodeBlock]);
  cipher_.reset(new (std::nothrow) uint8_t[kEncodeBlock]);
  return input_ && output_ && cipher_;
}

StatusCode FolderEncoder::Stream(SolidReader& reader, uint32_t method, CipherWriter& writer,
                                 const EncodeSites& sites) {
  uint8_t* in = input_.get();
  uint8_t* out = output_.get();
  const uint8_t site = MethodSite(method);
  size_t used = 0;
  auto drain = [&](bool finish) -> StatusCode {
    for (;;) {
      codec::Compressor::Step step = compressor_.Run(out, kEncodeBlock, used, finish);
      if (step == codec::Compressor::Step::Failed)
        return ConditionCode(Cls::CoderFailed, sites.place,
                             static_cast<uint8_t>(site + (finish ? 0x02 : 0x01)));
      if (step != codec::Compressor::Step::OutputFull) return kOk;
      if (!writer.Write(out, used)) return writer.failure();
      used = 0;
    }
  };
  for (;;) {
    size_t n = kEncodeBlock;
    if (!reader.Read(in, n)) return reader.failure();
    if (n == 0) break;
    if (method == kCopy) {
      if (!writer.Write(in, n)) return writer.failure();
      continue;
    }
    compressor_.SetInput(in, n);
    if (StatusCode code = drain(false)) return code;
  }
  if (method == kCopy) return kOk;
  if (StatusCode code = drain(true)) return code;
  if (used != 0 && !writer.Write(out, used)) return writer.failure();
  return kOk;
}

StatusCode FolderEncoder::Encode(const SourceFile* files, size_t count, uint32_t level, CoderRecord& coder,
                                 const uint8_t* key, platform::File& archive, bool progress,
                                 const EncodeSites& sites, uint32_t* crcs, FolderResult& result) {
  const uint32_t method = coder.method;
  if (method > kLastPackMethod) return ConditionCode(Cls::UnknownMethod, sites.place, 0x01);
  const bool aes = coder.chain_flags & kChainAes;
  StreamCipher cipher;
  if (aes && !cipher.Begin(key, coder, true)) return ConditionCode(Cls::NoMemory, sites.place, 0x04);
  CipherWriter writer(cipher_.get());
  writer.Begin(&archive, aes ? &cipher : nullptr, FolderWriteCode(sites, method));
  SolidReader reader;
  reader.Begin(files, count, coder.chain_flags & kChainBcj, progress, sites, crcs);
  const uint8_t site = MethodSite(method);

  if (method == kLzma) {
    codec::LzmaSettings settings = codec::LzmaDataSettings(level, reader.total());
    // A thread and its buffers cost more than they save on a small folder.
    settings.threads = reader.total() >= kThreadedLzmaMinimum ? lzma_threads_ : 1;
    codec::Outcome outcome = codec::LzmaEncode(settings, reader, writer, nullptr, result.properties);
    if (outcome != codec::Outcome::kOk) {
      if (reader.failure() != 0) return reader.failure();
      if (writer.failure() != 0) return writer.failure();
      if (outcome == codec::Outcome::kNoMemory) return ConditionCode(Cls::NoMemory, sites.place, 0x31);
      if (outcome == codec::Outcome::kSetupFailed) return ConditionCode(Cls::CoderInit, sites.place, 0x32);
      return ConditionCode(Cls::CoderFailed, sites.place, 0x31);
    }
    std::memcpy(coder.properties, result.properties, 5);
    coder.properties_size = 5;
    if (!writer.Finish())
      return writer.failure() == FolderWriteCode(sites, method) ? sites.lzma_pad : writer.failure();
  } else {
    if (method != kCopy && !compressor_.Begin(CodecMethod(method), static_cast<int>(level), 9))
      return ConditionCode(Cls::CoderInit, sites.place, static_cast<uint8_t>(site + 0x01));
    StatusCode code = Stream(reader, method, writer, sites);
    if (method != kCopy) {
      // The coder is released on every path; its verdict counts only on success.
      bool ended = compressor_.End();
      if (code == kOk && !ended)
        code = ConditionCode(Cls::CoderEnd, sites.place, static_cast<uint8_t>(site + 0x01));
    }
    if (code != kOk) return code;
    if (!writer.Finish())
      return writer.failure() == FolderWriteCode(sites, method) ? sites.pad : writer.failure();
  }
  result.size = reader.total();
  result.coded = writer.coded();
  result.packed = writer.packed();
  return kOk;
}

StatusCode CompressHeader(uint32_t method, const Bytes& header, Bytes& out, uint8_t properties[5],
                          StatusCode failure) {
  codec::BlockSettings settings;
  const size_t size = header.size();
  if (method == kDeflate) {
    settings.level = 9;
    settings.memory_level = 8;
  } else if (method == kBzip2) {
    settings.level = static_cast<int>(std::clamp<size_t>(size / 102400, 1, 9));
  } else if (method == kLzma) {
    settings.lzma = codec::LzmaHeaderSettings(size);
  }
  // Incompressible headers grow a little; this holds every coder's worst case.
  size_t capacity = size + size / 8 + 8192;
  out.resize(capacity);
  size_t out_size = 0;
  codec::Outcome outcome = codec::CompressBlock(CodecMethod(method), settings, header.data(), size,
                                                out.data(), out_size, capacity, properties);
  if (outcome != codec::Outcome::kOk) return failure;
  out.resize(out_size);
  return kOk;
}

StatusCode StoreHeader(platform::File& file, uint64_t packed_end, const Bytes& header,
                       const CoderRecord& chain, KeyCache& keys, const WidePassword& password, bool progress,
                       const HeaderSites& sites) {
  const uint32_t crc = ~crypto::Crc32Update(0xFFFFFFFFu, header.data(), header.size());
  uint64_t next_offset = packed_end, next_size = header.size();
  uint32_t next_crc = crc;
  if ((chain.chain_flags & (kChainCompress | kChainAes)) == 0) {
    if (!file.Write(header.data(), header.size())) return sites.plain;
  } else {
    CoderRecord coder;
    coder.chain_flags = chain.chain_flags & (kChainCompress | kChainAes);
    coder.method = chain.method;
    Bytes packed;
    if (coder.chain_flags & kChainCompress) {
      uint8_t properties[5] = {};
      if (StatusCode code = CompressHeader(coder.method, header, packed, properties, sites.compress))
        return code;
      if (coder.method == kLzma) {
        std::memcpy(coder.properties, properties, 5);
        coder.properties_size = 5;
      }
    } else {
      packed = header;
    }
    EncodedSizes sizes;
    sizes.crc = crc;
    sizes.plain = header.size();
    sizes.compressed = packed.size();
    if (coder.chain_flags & kChainAes) {
      // Never the IV (nor, with a salt, the key) of a data folder or of an earlier header.
      const uint8_t* key = nullptr;
      coder.cycles_power = chain.cycles_power;
      coder.salt_size = chain.salt_size;
      coder.iv_size = chain.iv_size;
      if (StatusCode code = frame::RandomBytes(coder.iv, coder.iv_size)) return code;
      if (StatusCode code = frame::RandomBytes(coder.salt, coder.salt_size)) return code;
      if (StatusCode code = keys.Get(password, progress, coder, false, key)) return code;
      packed.resize((packed.size() + 15) / 16 * 16, 0);
      StreamCipher cipher;
      if (!cipher.Begin(key, coder, true) || !cipher.Run(packed.data(), packed.size())) return sites.cipher;
    }
    sizes.packed = packed.size();
    if (!file.Write(packed.data(), packed.size())) return sites.packed;
    Bytes encoded;
    WriteEncodedHeader(encoded, packed_end, sizes, coder);
    if (!file.Write(encoded.data(), encoded.size())) return sites.encoded;
    next_offset = packed_end + packed.size();
    next_size = encoded.size();
    next_crc = ~crypto::Crc32Update(0xFFFFFFFFu, encoded.data(), encoded.size());
  }
  uint8_t start[kSignatureHeaderSize];
  WriteSignatureHeader(start, next_offset, next_size, next_crc);
  if (!file.Seek(0, platform::SeekFrom::Begin)) return sites.seek;
  if (!file.Write(start, sizeof start)) return sites.start;
  return kOk;
}

}  // namespace tx::svz
