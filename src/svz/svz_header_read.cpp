#include <cstring>

#include "crypto/crc.h"
#include "frame/bytes.h"
#include "svz/svz_header.h"

namespace tx::svz {

namespace {

StatusCode FolderCode(uint8_t occurrence) { return ConditionCode(cls::kFolder, place::kCoders, occurrence); }

constexpr uint32_t kMaxCoders = 8;
constexpr uint32_t kMaxStreamsPerCoder = 8;

// Method ids packed big-endian into an integer, as the format lists them.
constexpr uint64_t kIdCopy = 0x00, kIdDelta = 0x03, kIdX86 = 0x04, kIdPpc = 0x05, kIdIa64 = 0x06,
                   kIdArm = 0x07, kIdArmt = 0x08, kIdSparc = 0x09, kIdArm64 = 0x0A, kIdRiscv = 0x0B,
                   kIdLzma2 = 0x21, kIdLzma = 0x030101, kIdBcj = 0x03030103, kIdBcj2 = 0x0303011B,
                   kIdPpcOld = 0x03030205, kIdIa64Old = 0x03030401, kIdArmOld = 0x03030501,
                   kIdArmtOld = 0x03030701, kIdSparcOld = 0x03030805, kIdPpmd = 0x030401,
                   kIdDeflate = 0x040108, kIdDeflate64 = 0x040109, kIdBzip2 = 0x040202, kIdZstd = 0x04F71101,
                   kIdAes = 0x06F10701;

enum class Role { kAes, kMethod, kFilter };

struct ParsedCoder {
  uint64_t id = 0;
  uint32_t in = 1, out = 1;
  const uint8_t* props = nullptr;
  uint64_t props_size = 0;
};

bool IsFilter(uint64_t id) {
  switch (id) {
    case kIdDelta:
    case kIdX86:
    case kIdPpc:
    case kIdIa64:
    case kIdArm:
    case kIdArmt:
    case kIdSparc:
    case kIdArm64:
    case kIdRiscv:
    case kIdBcj:
    case kIdPpcOld:
    case kIdIa64Old:
    case kIdArmOld:
    case kIdArmtOld:
    case kIdSparcOld: return true;
    default: return false;
  }
}

uint32_t MethodOf(uint64_t id) {
  switch (id) {
    case kIdCopy: return kCopy;
    case kIdDeflate: return kDeflate;
    case kIdBzip2: return kBzip2;
    case kIdLzma: return kLzma;
    case kIdPpmd: return kPpmd;
    case kIdLzma2: return kLzma2;
    case kIdDeflate64: return kDeflate64;
    case kIdZstd: return kZstd;
    default: return kUnknownMethod;
  }
}

StatusCode TakeAes(const ParsedCoder& c, CoderRecord& coder) {
  if (c.props_size < 1) return FolderCode(0x12);
  uint8_t first = c.props[0];
  if ((first & 0x3F) > kMaxCyclesPower) return FolderCode(0x11);
  coder.cycles_power = first & 0x3F;
  bool salt = first & 0x80, iv = first & 0x40;
  coder.salt_size = coder.iv_size = 0;
  std::memset(coder.salt, 0, sizeof coder.salt);
  std::memset(coder.iv, 0, sizeof coder.iv);
  if (!salt && !iv) return c.props_size == 1 ? kOk : FolderCode(0x12);
  if (c.props_size < 2) return FolderCode(0x13);
  uint8_t second = c.props[1];
  coder.salt_size = salt ? (second >> 4) + 1u : 0u;
  coder.iv_size = iv ? (second & 0x0F) + 1u : 0u;
  if (c.props_size != coder.salt_size + coder.iv_size + 2) return FolderCode(0x13);
  std::memcpy(coder.salt, c.props + 2, coder.salt_size);
  std::memcpy(coder.iv, c.props + 2 + coder.salt_size, coder.iv_size);
  return kOk;
}

}  // namespace

bool Cursor::Byte(uint8_t& value) {
  if (pos_ >= size_) return false;
  value = data_[pos_++];
  return true;
}

bool Cursor::Peek(uint8_t& value) const {
  if (pos_ >= size_) return false;
  value = data_[pos_];
  return true;
}

bool Cursor::Number(uint64_t& value) {
  size_t length;
  if (!ReadNumber(data_ + pos_, size_ - pos_, value, length)) return false;
  pos_ += length;
  return true;
}

bool Cursor::Count(uint64_t& value, uint64_t limit) { return Number(value) && value <= limit; }

bool Cursor::Skip(uint64_t bytes) {
  if (bytes > size_ - pos_) return false;
  pos_ += static_cast<size_t>(bytes);
  return true;
}

const uint8_t* Cursor::Take(uint64_t bytes) {
  const uint8_t* at = data_ + pos_;
  return Skip(bytes) ? at : nullptr;
}

bool ReadNumber(const uint8_t* data, size_t size, uint64_t& value, size_t& length) {
  if (size == 0) return false;
  uint8_t first = data[0];
  int extra = 0;
  while (extra < 8 && (first & (0x80 >> extra))) ++extra;
  if (static_cast<size_t>(extra) >= size) return false;
  value = 0;
  for (int i = 0; i < extra; ++i) value |= uint64_t{data[1 + i]} << (8 * i);
  if (extra < 7) value |= uint64_t{static_cast<uint8_t>(first & (0x7F >> extra))} << (8 * extra);
  length = static_cast<size_t>(1 + extra);
  return true;
}

StatusCode FindSignatureHeader(const uint8_t* buffer, size_t length, SignatureInfo& info) {
  bool bad_crc = false;
  // Only whole start headers count: one cut by the end of the buffer is not read.
  for (size_t at = 0; length >= kSignatureHeaderSize && at <= length - kSignatureHeaderSize; ++at) {
    const uint8_t* p = buffer + at;
    if (p[0] != kSignature[0] || std::memcmp(p, kSignature, sizeof kSignature) != 0) continue;
    uint32_t crc = crypto::Crc32Update(0xFFFFFFFFu, p + 12, 20) ^ 0xFFFFFFFFu;
    if (crc != frame::LoadU32(p + 8)) {
      bad_crc = true;  // perhaps the signature's bytes inside a stub: look further
      continue;
    }
    info.offset = at;
    info.next_offset = frame::LoadU64(p + 12);
    info.next_size = frame::LoadU64(p + 20);
    info.next_crc = frame::LoadU32(p + 28);
    return kOk;
  }
  return bad_crc ? ConditionCode(cls::kHeaderCrc, place::kSignatureSearch, 0x01)
                 : ConditionCode(cls::kNoSignature, place::kSignatureSearch, 0x01);
}

// The streams and bind pairs of a folder record, as ParseCoders reads them.
struct FolderGraph {
  ParsedCoder* coders;
  uint32_t count, binds, packed;
  const uint32_t *bind_in, *bind_out, *packed_in;
  uint32_t in_start[kMaxCoders], out_start[kMaxCoders];
};

// Follows input stream `in` of the BCJ2 coder down to its packed stream: at most one
// compressor, then at most one AES, each with one input and one output.
bool TraceBranch(const FolderGraph& g, uint32_t in, bool used[], Bcj2Branch& branch) {
  bool method = false, aes = false;
  for (;;) {
    uint32_t p = 0;
    while (p < g.packed && g.packed_in[p] != in) ++p;
    if (p < g.packed) {
      branch.pack = p;
      return true;
    }
    uint32_t b = 0;
    while (b < g.binds && g.bind_in[b] != in) ++b;
    if (b == g.binds) return false;
    const uint32_t out = g.bind_out[b];
    uint32_t c = 0;
    while (c + 1 < g.count && g.out_start[c + 1] <= out) ++c;
    const ParsedCoder& pc = g.coders[c];
    if (used[c] || pc.in != 1 || pc.out != 1 || IsFilter(pc.id) || pc.id == kIdBcj2) return false;
    used[c] = true;
    if (pc.id == kIdAes) {
      if (aes) return false;
      aes = true;
      branch.coder.chain_flags |= kChainAes;
      branch.aes_out = static_cast<int>(out);
      if (TakeAes(pc, branch.coder) != kOk) return false;
    } else {
      if (method || aes) return false;
      method = true;
      branch.coder.chain_flags |= kChainCompress;
      branch.coder.method = MethodOf(pc.id);
      branch.method_out = static_cast<int>(out);
      if (pc.props_size > sizeof branch.coder.properties) return false;
      branch.coder.properties_size = static_cast<uint32_t>(pc.props_size);
      if (pc.props_size != 0) std::memcpy(branch.coder.properties, pc.props, pc.props_size);
    }
    in = g.in_start[c];
  }
}

// A BCJ2 coder whose output is the folder's and whose four inputs are branches that use
// every other coder once.
bool AnalyseBcj2(const FolderGraph& g, uint32_t final_out, CoderRecord& coder, Bcj2Layout& layout) {
  uint32_t bcj2 = 0;
  while (bcj2 < g.count && g.coders[bcj2].id != kIdBcj2) ++bcj2;
  if (bcj2 == g.count || g.coders[bcj2].in != 4 || g.coders[bcj2].out != 1 || g.out_start[bcj2] != final_out)
    return false;
  bool used[kMaxCoders] = {};
  used[bcj2] = true;
  for (uint32_t k = 0; k < 4; ++k) {
    Bcj2Branch& branch = layout.branches[k];
    branch = Bcj2Branch{};
    if (!TraceBranch(g, g.in_start[bcj2] + k, used, branch)) return false;
    const CoderRecord& b = branch.coder;
    if ((b.chain_flags & kChainAes) &&
        (b.cycles_power != coder.cycles_power || b.salt_size != coder.salt_size ||
         std::memcmp(b.salt, coder.salt, b.salt_size) != 0))
      return false;
  }
  for (uint32_t c = 0; c < g.count; ++c)
    if (!used[c]) return false;
  const CoderRecord& main = layout.branches[0].coder;
  coder.method = main.method;
  coder.properties_size = main.properties_size;
  std::memcpy(coder.properties, main.properties, sizeof coder.properties);
  return true;
}

StatusCode ParseCoders(Cursor& cursor, CoderRecord& coder, ChainLayout& layout, Bcj2Layout* bcj2) {
  coder = CoderRecord{};
  layout = ChainLayout{};
  uint64_t count;
  if (!cursor.Number(count)) return FolderCode(0x09);
  if (count == 0 || count > kMaxCoders) return FolderCode(0x01);
  ParsedCoder coders[kMaxCoders];
  uint32_t total_in = 0, total_out = 0;
  for (uint32_t i = 0; i < count; ++i) {
    ParsedCoder& c = coders[i];
    uint8_t flag;
    if (!cursor.Byte(flag)) return FolderCode(0x09);
    if (flag & 0xC0) return FolderCode(0x08);  // alternative methods: never written by anyone
    const uint8_t* id = cursor.Take(flag & 0x0F);
    if (!id) return FolderCode(0x09);
    if ((flag & 0x0F) > 8) return FolderCode(0x08);
    for (int k = 0; k < (flag & 0x0F); ++k) c.id = c.id << 8 | id[k];
    if (flag & 0x10) {
      uint64_t in, out;
      if (!cursor.Count(in, kMaxStreamsPerCoder) || !cursor.Count(out, kMaxStreamsPerCoder))
        return FolderCode(0x09);
      if (in == 0 || out == 0) return FolderCode(0x08);
      c.in = static_cast<uint32_t>(in);
      c.out = static_cast<uint32_t>(out);
    }
    if (flag & 0x20) {
      if (!cursor.Number(c.props_size) || !(c.props = cursor.Take(c.props_size))) return FolderCode(0x09);
    }
    total_in += c.in;
    total_out += c.out;
  }
  uint32_t binds = total_out - 1;
  if (total_in < binds) return FolderCode(0x0A);
  uint32_t bind_in[kMaxCoders * kMaxStreamsPerCoder], bind_out[kMaxCoders * kMaxStreamsPerCoder];
  bool in_bound[kMaxCoders * kMaxStreamsPerCoder] = {}, out_bound[kMaxCoders * kMaxStreamsPerCoder] = {};
  for (uint32_t b = 0; b < binds; ++b) {
    uint64_t in, out;
    if (!cursor.Number(in) || !cursor.Number(out)) return FolderCode(0x09);
    if (in >= total_in || out >= total_out || in_bound[in] || out_bound[out]) return FolderCode(0x0A);
    bind_in[b] = static_cast<uint32_t>(in);
    bind_out[b] = static_cast<uint32_t>(out);
    in_bound[in] = out_bound[out] = true;
  }
  uint32_t packed = total_in - binds;
  uint32_t packed_ins[kMaxCoders * kMaxStreamsPerCoder];
  uint32_t packed_in = 0;
  if (packed == 1) {
    while (in_bound[packed_in]) ++packed_in;
    packed_ins[0] = packed_in;
  } else {
    for (uint32_t p = 0; p < packed; ++p) {
      uint64_t index;
      if (!cursor.Number(index)) return FolderCode(0x09);
      if (index >= total_in || in_bound[index]) return FolderCode(0x0A);
      in_bound[index] = true;
      packed_ins[p] = static_cast<uint32_t>(index);
    }
  }
  layout.out_streams = total_out;
  layout.pack_streams = packed;
  coder.coder_count = static_cast<uint32_t>(count);

  // Name what the folder holds, for listings, before judging its shape.
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t id = coders[i].id;
    if (id == kIdAes) {
      coder.chain_flags |= kChainAes;
      if (StatusCode code = TakeAes(coders[i], coder)) return code;
    } else if (id == kIdBcj) {
      coder.chain_flags |= kChainBcj;
    } else if (id == kIdBcj2) {
      coder.chain_flags |= kChainBcj2;
    } else if (IsFilter(id)) {
      coder.chain_flags |= kChainOther;
      coder.filter_id = static_cast<uint32_t>(id);
      if (id == kIdDelta) coder.delta_distance = coders[i].props_size == 1 ? coders[i].props[0] + 1u : 0u;
    } else {
      coder.chain_flags |= kChainCompress;
      coder.method = MethodOf(id);
      if (coder.method == kUnknownMethod) coder.filter_id = static_cast<uint32_t>(id);
      if (coder.method == kLzma || coder.method == kPpmd || coder.method == kLzma2) {
        if (coders[i].props_size > sizeof coder.properties)
          return FolderCode(coder.method == kLzma ? 0x21 : coder.method == kPpmd ? 0x22 : 0x23);
        coder.properties_size = static_cast<uint32_t>(coders[i].props_size);
        if (coder.properties_size != 0) std::memcpy(coder.properties, coders[i].props, coder.properties_size);
      }
    }
  }

  // A single chain: every coder one stream in, one out, from the packed stream to the one
  // output no bind pair takes.
  uint32_t out = 0;
  while (out < total_out && out_bound[out]) ++out;
  layout.final_out = static_cast<int>(out);
  if (bcj2 != nullptr && (coder.chain_flags & kChainBcj2)) {
    FolderGraph g{coders, static_cast<uint32_t>(count), binds, packed, bind_in, bind_out, packed_ins, {}, {}};
    for (uint32_t i = 0, in = 0, o = 0; i < count; in += coders[i].in, o += coders[i].out, ++i) {
      g.in_start[i] = in;
      g.out_start[i] = o;
    }
    layout.bcj2 = AnalyseBcj2(g, out, coder, *bcj2);
    return kOk;
  }
  if (total_in != count || total_out != count || packed != 1) return kOk;
  Role roles[kMaxCoders];
  uint32_t outs[kMaxCoders];
  uint32_t steps = 0;
  for (;;) {
    uint32_t c = out;  // one out stream per coder: the stream's index is the coder's
    const ParsedCoder& pc = coders[c];
    roles[steps] = pc.id == kIdAes ? Role::kAes : IsFilter(pc.id) ? Role::kFilter : Role::kMethod;
    outs[steps++] = out;
    uint32_t in = c;
    if (in == packed_in) break;
    uint32_t b = 0;
    while (b < binds && bind_in[b] != in) ++b;
    if (b == binds || steps == count) return kOk;  // a loop or a detached coder
    out = bind_out[b];
  }
  if (steps != count) return kOk;
  // From the packed side: AES first, then at most one compressor, then filters.
  int at = static_cast<int>(steps) - 1;
  if (roles[at] == Role::kAes) layout.aes_out = static_cast<int>(outs[at--]);
  if (at >= 0 && roles[at] == Role::kMethod) layout.method_out = static_cast<int>(outs[at--]);
  int filters = 0;
  while (at >= 0 && roles[at] == Role::kFilter) --at, ++filters;
  if (at >= 0 || filters > 1) return kOk;
  layout.linear = true;
  return kOk;
}

}  // namespace tx::svz
