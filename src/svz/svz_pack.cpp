#include "svz/svz_pack.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "crypto/crc.h"
#include "frame/bytes.h"
#include "frame/call_frame.h"
#include "frame/file_copy.h"
#include "frame/folder_walk.h"
#include "frame/name_list.h"
#include "frame/names.h"
#include "frame/output_file.h"
#include "frame/paths.h"
#include "frame/random.h"
#include "frame/secrets.h"
#include "platform/cores.h"
#include "platform/dir_search.h"
#include "platform/fs.h"
#include "svz/svz_aes.h"
#include "svz/svz_encode.h"
#include "ui/progress.h"

namespace tx::svz {

namespace {

using platform::SysCall;
using platform::WidePath;

constexpr uint32_t kTextPacking = 3002;

StatusCode Option(uint8_t word) { return ConditionCode(Cls::BadOption, 0, word); }
StatusCode Cancelled(uint8_t site) { return ConditionCode(Cls::Cancelled, 0, site); }
StatusCode WriteFailed(uint8_t site) { return SystemCode(SysCall::WriteFile, 0, site); }

enum class Kind { kSingle = 1, kFolders = 2, kSolid = 3 };

struct Settings {
  bool demand = false;
  uint32_t method = kLzma, level = 5, bcj = 0;
  bool creation_times = false;
  uint32_t header_mode = 0, header_method = kLzma;
  bool encrypt = false;
  uint32_t cycles = 19, salt = 0, iv = 16;
  bool list_file = false;
  uint32_t grouping = 0, block_files = 0, block_bytes = 0;
};

// The words in table order: the first invalid one decides the code.
StatusCode ReadOptions(const uint32_t* o, Kind kind, Settings& s) {
  if (o[2] > kLastPackMethod) return Option(0x02);
  if (o[3] < 1 || o[3] > 9) return Option(0x03);
  if (o[4] > 2) return Option(0x04);
  if (o[6] > 3) return Option(0x06);
  if (o[7] > kLastPackMethod) return Option(0x07);
  // More rounds than 2^62 could not be counted in the derivation's 64-bit counter.
  if (o[9] > kMaxCyclesPower) return Option(kind == Kind::kFolders ? 0x08 : 0x09);
  if (o[10] > 16) return Option(0x0a);
  if (o[11] > 16) return Option(0x0b);
  if (kind == Kind::kSolid) {
    if (o[13] > 2) return Option(0x0d);
    if (o[14] == 1) return Option(0x0e);
    if (o[15] != 0 && o[15] < 1024) return Option(0x0f);
    s.grouping = o[13];
    s.block_files = o[14];
    s.block_bytes = o[15];
  }
  s.demand = o[0] != 0;
  s.method = o[2];
  s.level = o[3];
  s.bcj = o[4];
  s.creation_times = o[5] != 0;
  s.encrypt = o[8] != 0;
  s.header_mode = s.encrypt ? o[6] : o[6] & 1u;
  s.header_method = o[7];
  s.cycles = o[9];
  s.salt = o[10];
  s.iv = o[11];
  s.list_file = kind != Kind::kSingle && o[12] != 0;
  return kOk;
}

// The extension of the last component, with its dot ("" without one).
std::u16string Extension(const std::u16string& name) {
  size_t slash = name.rfind(u'/');
  size_t dot = name.rfind(u'.');
  if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash)) return {};
  return name.substr(dot);
}

bool SameExtension(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() && frame::EqualFoldingAZ(a.c_str(), b.c_str(), a.size());
}

bool IsExecutable(const std::u16string& name) {
  return frame::HasExtension(name.c_str(), frame::kExecutableExtensions);
}

std::u16string Join(const char16_t* base, const std::u16string& name) {
  std::u16string full(base);
  full.append(name);
  return full;
}

struct Found {
  std::u16string name;
  platform::FileInfo info;
};

// A folder of consecutive files, as cut before any is coded.
struct FolderPlanEntry {
  size_t first = 0, count = 0;
  bool bcj = false;
  EncodeSites sites;
};

// A file for coded bytes on their way into the archive, removed when it goes.
struct ScratchFile {
  platform::File file;
  WidePath name;
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    file.Close();
    if (!name.empty()) platform::DeleteFile(name.c_str());
  }
};

// Runs a job on another thread; the destructor raises `stop` and waits for it, so that no
// thread outlives the call on any path.
class Helper {
 public:
  explicit Helper(std::atomic<bool>& stop) : stop_(stop) {}
  ~Helper() { Join(true); }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  template <typename F>
  bool Run(F job) {
    try {
      thread_ = std::thread(std::move(job));
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }
  void Join(bool stop) {
    if (!thread_.joinable()) return;
    if (stop) stop_.store(true);
    thread_.join();
  }

 private:
  std::atomic<bool>& stop_;
  std::thread thread_;
};

// One archive being made: the entries, the header blocks gathered while the data is
// stored, the keys, and the file under its temporary name.
class Packer {
 public:
  Packer(frame::CallFrame& frame, const Settings& s, Kind kind) : frame_(frame), s_(s), kind_(kind) {}

  StatusCode Start(const char* password_argument, const char16_t* archive, const char16_t* base,
                   const char16_t* name);
  void SetBase(const char16_t* base) { base_ = base; }
  void Add(const std::u16string& name, const platform::FileInfo& info);
  void OrderFiles();
  StatusCode Create(const char16_t* archive);
  StatusCode PackEntries();
  StatusCode Finish();
  bool empty() const { return files_.empty() && empties_.empty() && directories_.empty(); }

 private:
  // One folder to code: its files, its coder chain and key, and what coding gave.
  struct FolderJob {
    FolderPlanEntry plan;
    CoderRecord coder;
    frame::Wiped<std::array<uint8_t, kKeySize>> key;
    bool keyed = false;
    std::vector<uint32_t> crcs;
    FolderResult result;
    StatusCode code = kOk;
  };

  StatusCode FolderCoder(FolderJob& job);
  void RecordFolder(FolderJob& job);
  StatusCode Announce(const FolderJob& job);
  StatusCode PackFolders();
  StatusCode PackPair(FolderJob& job, FolderJob& next);
  void PlanSolid();
  void AddNames(const std::u16string& name, const platform::FileInfo& info);
  StatusCode Announce(uint32_t index, const std::u16string& name, uint8_t cancel_site);
  uint8_t Site(uint8_t folders, uint8_t solid) const { return kind_ == Kind::kSolid ? solid : folders; }

  frame::CallFrame& frame_;
  const Settings& s_;
  Kind kind_;
  std::u16string base_;
  frame::Password password_;
  WidePassword wide_;
  KeyCache keys_;
  FolderEncoder encoder_;
  // The second core codes the next folder into a scratch file while this one codes into
  // the archive; the scratch file's bytes then follow in order.
  FolderEncoder helper_;
  ScratchFile scratch_;
  frame::FileCopier copier_;
  std::vector<FolderPlanEntry> plan_;
  std::u16string archive_name_;
  frame::OutputFile archive_;
  std::vector<SourceFile> files_;
  std::vector<platform::FileInfo> file_infos_;
  std::vector<Found> empties_, directories_;
  HeaderBlobs blobs_;
  HeaderCounts counts_;
  uint64_t packed_ = 0;
  uint32_t entries_done_ = 0;
};

StatusCode Packer::Start(const char* password_argument, const char16_t* archive, const char16_t* base,
                         const char16_t* name) {
  if (frame_.progress() && ui::ProgressOpen(1, 1, kTextPacking, archive, base, name) != ui::kProgressGoOn)
    return Cancelled(0x01);
  if (s_.encrypt) {
    const bool ask = frame_.flags() & frame::CallFrame::kFlagAskPassword;
    const bool given = password_argument != nullptr && password_argument[0] != 0;
    if (StatusCode code = password_.Take(password_argument, ask, Cancelled(0x02))) return code;
    if (!wide_.Set(password_)) return SystemCode(SysCall::MultiByteToWide, 0, given ? 0x01 : 0x02);
  }
  if (s_.demand && !(s_.encrypt && (s_.header_mode & 2))) return ConditionCode(Cls::PasswordProblem, 0, 0x00);
  if (s_.encrypt)
    if (StatusCode code = frame::GatherEntropy()) return code;
  if (!encoder_.Allocate()) return ConditionCode(Cls::NoMemory, 0, 0x01);
  return kOk;
}

void Packer::Add(const std::u16string& name, const platform::FileInfo& info) {
  std::u16string stored = name;
  while (!stored.empty() && stored.back() == u'/') stored.pop_back();
  if (info.attributes & platform::kAttrDirectory) {
    directories_.push_back({stored, info});
  } else if (info.size == 0) {
    empties_.push_back({stored, info});
  } else {
    files_.push_back({Join(base_.c_str(), stored), stored, info.size});
    file_infos_.push_back(info);
  }
}

// Files of one type together (executables last when grouping puts them apart), so that
// solid blocks hold alike data.
void Packer::OrderFiles() {
  if (files_.size() < 2) return;
  std::u16string buffer;
  for (const SourceFile& f : files_) {
    buffer.append(f.name);
    buffer.push_back(u'\0');
  }
  if (frame::OrderByType(s_.grouping == 1 ? 2 : 1, buffer.data(), buffer.size()) != kOk) return;
  std::unordered_map<std::u16string, size_t> where;
  for (size_t i = 0; i < files_.size(); ++i) where.emplace(files_[i].name, i);
  std::vector<SourceFile> files;
  std::vector<platform::FileInfo> infos;
  for (const char16_t* p = buffer.c_str(); p < buffer.c_str() + buffer.size();
       p += platform::Utf16Length(p) + 1) {
    auto it = where.find(p);
    if (it == where.end()) continue;
    files.push_back(std::move(files_[it->second]));
    infos.push_back(file_infos_[it->second]);
    where.erase(it);
  }
  if (files.size() != files_.size()) return;  // names not unique: keep the walk's order
  files_ = std::move(files);
  file_infos_ = std::move(infos);
}

StatusCode Packer::Create(const char16_t* archive) {
  archive_name_ = archive;
  if (!archive_.Create(archive))
    return SystemCode(SysCall::CreateFile, 0, kind_ == Kind::kSolid ? 0x01 : 0x00);
  uint8_t placeholder[kSignatureHeaderSize] = {};
  WriteSignatureHeader(placeholder, 0, 0, 0);
  if (!archive_.file().Write(placeholder, sizeof placeholder)) return WriteFailed(0x01);
  return kOk;
}

void Packer::AddNames(const std::u16string& name, const platform::FileInfo& info) {
  for (char16_t c : name) {
    blobs_.names.push_back(static_cast<uint8_t>(c));
    blobs_.names.push_back(static_cast<uint8_t>(c >> 8));
  }
  blobs_.names.push_back(0);
  blobs_.names.push_back(0);
  uint8_t field[8];
  if (s_.creation_times) {
    frame::StoreU64(field, info.creation);
    blobs_.creation_times.insert(blobs_.creation_times.end(), field, field + 8);
  }
  frame::StoreU64(field, info.last_write);
  blobs_.modification_times.insert(blobs_.modification_times.end(), field, field + 8);
  frame::StoreU32(field, info.attributes);
  blobs_.attributes.insert(blobs_.attributes.end(), field, field + 4);
}

StatusCode Packer::Announce(uint32_t index, const std::u16string& name, uint8_t cancel_site) {
  uint32_t total = static_cast<uint32_t>(files_.size() + empties_.size() + directories_.size());
  if (frame_.progress() &&
      ui::ProgressOpen(index, total, kTextPacking, nullptr, nullptr, name.c_str()) != ui::kProgressGoOn)
    return Cancelled(cancel_site);
  return kOk;
}

// A new IV for every folder; a new salt, and so a new key, unless the salt size is 0. The
// key is kept with the job: the cache holds one key at a time.
StatusCode Packer::FolderCoder(FolderJob& job) {
  CoderRecord& coder = job.coder;
  coder = CoderRecord{};
  coder.method = s_.method;
  coder.chain_flags = kChainCompress | (s_.encrypt ? kChainAes : 0) | (job.plan.bcj ? kChainBcj : 0);
  job.keyed = false;
  job.crcs.assign(job.plan.count, 0);
  if (!s_.encrypt) return kOk;
  coder.cycles_power = s_.cycles;
  coder.salt_size = s_.salt;
  coder.iv_size = s_.iv;
  if (StatusCode code = frame::RandomBytes(coder.iv, s_.iv)) return code;
  if (StatusCode code = frame::RandomBytes(coder.salt, s_.salt)) return code;
  const uint8_t* key = nullptr;
  if (StatusCode code = keys_.Get(wide_, frame_.progress(), coder, false, key)) return code;
  std::memcpy(job.key->data(), key, kKeySize);
  job.keyed = true;
  return kOk;
}

void Packer::RecordFolder(FolderJob& job) {
  const FolderResult& result = job.result;
  AppendNumber(blobs_.pack_sizes, result.packed);
  WriteCoders(blobs_.folders, job.coder);
  if (s_.encrypt) AppendNumber(blobs_.unpack_sizes, result.coded);
  AppendNumber(blobs_.unpack_sizes, result.size);
  if (job.plan.bcj) AppendNumber(blobs_.unpack_sizes, result.size);
  if (kind_ == Kind::kSolid) {
    AppendNumber(blobs_.substream_counts, job.plan.count);
    for (size_t i = 0; i + 1 < job.plan.count; ++i)
      AppendNumber(blobs_.substream_sizes, files_[job.plan.first + i].size);
  }
  for (uint32_t crc : job.crcs) {
    uint8_t field[4];
    frame::StoreU32(field, crc);
    blobs_.crcs.insert(blobs_.crcs.end(), field, field + 4);
  }
  packed_ += result.packed;
  ++counts_.folders;
}

// Each folder of its own file shows that file's name before it is coded.
StatusCode Packer::Announce(const FolderJob& job) {
  if (kind_ != Kind::kFolders) return kOk;
  return Announce(static_cast<uint32_t>(job.plan.first + 1), files_[job.plan.first].name, 0x03);
}

// Blocks cut by type, file count and byte count; each block is one folder.
void Packer::PlanSolid() {
  const uint32_t total = static_cast<uint32_t>(files_.size() + empties_.size() + directories_.size());
  size_t first = 0, count = 0;
  uint64_t bytes = 0;
  auto close = [&] {
    const std::u16string& opener = files_[first].name;
    FolderPlanEntry entry;
    entry.first = first;
    entry.count = count;
    entry.bcj =
        s_.bcj == 1 || (s_.bcj == 2 && s_.method != kCopy && s_.grouping != 0 && IsExecutable(opener));
    entry.sites = SolidSites();
    entry.sites.item_base = static_cast<uint32_t>(first);
    entry.sites.item_total = total;
    plan_.push_back(entry);
    first += count;
    count = 0;
    bytes = 0;
  };
  for (size_t i = 0; i < files_.size(); ++i) {
    if (count != 0) {
      const std::u16string& previous = files_[i - 1].name;
      const std::u16string& name = files_[i].name;
      bool other_type = (s_.grouping == 1 && IsExecutable(previous) != IsExecutable(name)) ||
                        (s_.grouping == 2 && !SameExtension(Extension(previous), Extension(name)));
      if (other_type) close();
    }
    ++count;
    bytes += files_[i].size;
    bool full =
        (s_.block_files != 0 && count >= s_.block_files) || (s_.block_bytes != 0 && bytes >= s_.block_bytes);
    if (full || i + 1 == files_.size()) close();
  }
}

// Codes `job` into the archive while the helper codes `next` into the scratch file, then
// appends the scratch file. Keys and IVs are drawn in folder order, as on one thread.
StatusCode Packer::PackPair(FolderJob& job, FolderJob& next) {
  if (StatusCode code = FolderCoder(next)) return code;
  if (!scratch_.file.Seek(0, platform::SeekFrom::Begin) || !scratch_.file.Truncate())
    return FolderWriteCode(next.plan.sites, s_.method);
  std::atomic<bool> stop{false};
  next.plan.sites.stop = &stop;
  const uint8_t* next_key = next.keyed ? next.key->data() : nullptr;
  Helper helper(stop);
  bool started = helper.Run([&] {
    next.code = helper_.Encode(&files_[next.plan.first], next.plan.count, s_.level, next.coder, next_key,
                               scratch_.file, false, next.plan.sites, next.crcs.data(), next.result);
  });
  const uint8_t* key = job.keyed ? job.key->data() : nullptr;
  job.code = encoder_.Encode(&files_[job.plan.first], job.plan.count, s_.level, job.coder, key,
                             archive_.file(), frame_.progress(), job.plan.sites, job.crcs.data(), job.result);
  if (job.code != kOk) return job.code;
  if (!started) {
    next.plan.sites.stop = nullptr;
    if (StatusCode code = Announce(next)) return code;
    next.code =
        encoder_.Encode(&files_[next.plan.first], next.plan.count, s_.level, next.coder, next_key,
                        archive_.file(), frame_.progress(), next.plan.sites, next.crcs.data(), next.result);
    return next.code;
  }
  helper.Join(false);
  if (StatusCode code = Announce(next)) return code;
  if (next.code != kOk) return next.code;
  const StatusCode write = FolderWriteCode(next.plan.sites, s_.method);
  if (!scratch_.file.Seek(0, platform::SeekFrom::Begin)) return write;
  return copier_.Copy(scratch_.file, archive_.file(), next.result.packed, {write, write, write},
                      [](uint64_t) { return false; });
}

StatusCode Packer::PackFolders() {
  bool two = plan_.size() > 1 && platform::WorkerThreads(2) > 1;
  if (two) {
    std::u16string folder = archive_name_;
    size_t slash = folder.rfind(u'/');
    folder.resize(slash == std::u16string::npos ? 0 : slash + 1);
    if (folder.empty()) folder = u"./";
    // Without a scratch file or the memory of a second coder the call stays on one thread.
    two = helper_.Allocate() && copier_.Allocate() &&
          platform::TempFileName(folder.c_str(), u".tx", scratch_.name) &&
          scratch_.file.Open(scratch_.name.c_str(), platform::Access::ReadWrite,
                             platform::Disposition::OpenExisting);
  }
  // LZMA's match finder takes a thread of its own as well: a folder coded beside a much
  // smaller one then has both cores once the other is done.
  const int lzma_threads = static_cast<int>(platform::WorkerThreads(2));
  encoder_.set_lzma_threads(lzma_threads);
  helper_.set_lzma_threads(lzma_threads);
  FolderJob job, next;
  for (size_t k = 0; k < plan_.size();) {
    job.plan = plan_[k];
    if (StatusCode code = Announce(job)) return code;
    if (StatusCode code = FolderCoder(job)) return code;
    if (two && k + 1 < plan_.size()) {
      next.plan = plan_[k + 1];
      if (StatusCode code = PackPair(job, next)) return code;
      RecordFolder(job);
      RecordFolder(next);
      k += 2;
      continue;
    }
    const uint8_t* key = job.keyed ? job.key->data() : nullptr;
    if (StatusCode code =
            encoder_.Encode(&files_[job.plan.first], job.plan.count, s_.level, job.coder, key,
                            archive_.file(), frame_.progress(), job.plan.sites, job.crcs.data(), job.result))
      return code;
    RecordFolder(job);
    ++k;
  }
  return kOk;
}

StatusCode Packer::PackEntries() {
  // Files with data first, in pack order; they own the unpack streams in that order.
  for (size_t i = 0; i < files_.size(); ++i) {
    AddNames(files_[i].name, file_infos_[i]);
  }
  if (kind_ == Kind::kSolid) {
    PlanSolid();
  } else {
    for (size_t i = 0; i < files_.size(); ++i) {
      FolderPlanEntry entry;
      entry.first = i;
      entry.count = 1;
      entry.bcj = s_.bcj == 1 || (s_.bcj == 2 && s_.method != kCopy && IsExecutable(files_[i].name));
      entry.sites = FolderSites();
      plan_.push_back(entry);
    }
  }
  if (StatusCode code = PackFolders()) return code;
  entries_done_ = static_cast<uint32_t>(files_.size());
  const size_t entries = files_.size() + empties_.size() + directories_.size();
  const size_t empty_entries = empties_.size() + directories_.size();
  if (empty_entries != 0) {
    blobs_.empty_stream.assign((entries + 7) / 8, 0);
    blobs_.empty_file.assign((empty_entries + 7) / 8, 0);
  }
  size_t index = files_.size(), empty_index = 0;
  for (const Found& e : empties_) {
    if (StatusCode code = Announce(++entries_done_, e.name, 0x03)) return code;
    AddNames(e.name, e.info);
    blobs_.empty_stream[index / 8] |= static_cast<uint8_t>(0x80 >> (index % 8));
    blobs_.empty_file[empty_index / 8] |= static_cast<uint8_t>(0x80 >> (empty_index % 8));
    ++index;
    ++empty_index;
  }
  // Deeper folders before the folders that hold them: the walk met them the other way round.
  for (auto it = directories_.rbegin(); it != directories_.rend(); ++it) {
    const Found& e = *it;
    if (StatusCode code = Announce(++entries_done_, e.name, 0x03)) return code;
    AddNames(e.name, e.info);
    blobs_.empty_stream[index / 8] |= static_cast<uint8_t>(0x80 >> (index % 8));
    ++index;
  }
  counts_.pack_streams = counts_.folders;
  counts_.files = static_cast<uint32_t>(entries);
  counts_.unpack_streams = static_cast<uint32_t>(files_.size());
  counts_.empty_files = static_cast<uint32_t>(empties_.size());
  counts_.directories = static_cast<uint32_t>(directories_.size());
  return kOk;
}

StatusCode Packer::Finish() {
  Bytes header;
  WriteMainHeader(header, counts_, blobs_);
  CoderRecord chain;
  chain.chain_flags = s_.header_mode;
  chain.method = s_.header_method;
  chain.cycles_power = s_.cycles;
  chain.salt_size = s_.salt;
  chain.iv_size = s_.iv;
  const HeaderSites sites{WriteFailed(Site(0x02, 0x07)),
                          WriteFailed(Site(0x03, 0x08)),
                          WriteFailed(Site(0x04, 0x09)),
                          SystemCode(SysCall::SetFilePointer, 0, 0x00),
                          WriteFailed(Site(0x05, 0x0a)),
                          ConditionCode(Cls::CoderFailed, 0, 0x41),
                          ConditionCode(Cls::NoMemory, 0, 0x0d)};
  if (StatusCode code =
          StoreHeader(archive_.file(), packed_, header, chain, keys_, wide_, frame_.progress(), sites))
    return code;
  return archive_.Commit() ? kOk : SystemCode(SysCall::CloseHandle, 0, 0x00);
}

// The names a wildcard path matches, folders walked below; the archive itself left out.
StatusCode Walk(const char16_t* base, const char16_t* pattern, const char16_t* archive, Packer& packer) {
  frame::FolderWalk walk(base, u'/');
  platform::DirSearch finder;
  platform::FindData found;
  if (StatusCode code =
          walk.Start(pattern, archive, finder, found, SystemCode(SysCall::FindFirstFile, 0, 0x01)))
    return code;
  auto add = [&](const std::u16string& name, const platform::FindData& entry) -> StatusCode {
    packer.Add(name, entry);
    return kOk;
  };
  do {
    if (walk.IsLeftOut(found)) continue;
    std::u16string name = found.name.c_str();
    if (name.size() + 1 >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
    packer.Add(name, found);
    if (found.attributes & platform::kAttrDirectory)
      if (StatusCode code = walk.Descend(name, found, add)) return code;
  } while (finder.Next(found));
  return kOk;
}

// The names of a list file, as they are now on disk; the archive itself left out.
StatusCode ListNames(const char16_t* list, const char16_t* archive, WidePath& base, Packer& packer) {
  uint32_t count = 0;
  frame::NameBuffer names;
  if (StatusCode code = frame::ReadListFile(list, base, count, names)) return code;
  packer.SetBase(base.c_str());
  platform::FileInfo archive_info;
  const bool archive_exists = platform::GetFileInfo(archive, archive_info);
  const char16_t* name = names.data();
  for (uint32_t i = 0; i < count; ++i, name += platform::Utf16Length(name) + 1) {
    std::u16string full = Join(base.c_str(), name);
    if (full.size() >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x01);
    platform::FileInfo info;
    if (!platform::GetFileInfo(full.c_str(), info)) return SystemCode(SysCall::GetFileAttributes, 0, 0x00);
    if (archive_exists && platform::IsSameFile(info, archive_info)) continue;
    packer.Add(name, info);
  }
  return kOk;
}

StatusCode PackTree(void* parent, const char* archive, const char* source, const char* password,
                    const uint32_t* options, Kind kind) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    Settings s;
    if (StatusCode code = ReadOptions(options, kind, s)) return code;
    WidePath archive_path, source_path, base, pattern;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    if (s.list_file && platform::SameFile(source_path.c_str(), archive_path.c_str()))
      return SystemCode(SysCall::CreateFile, 0, 0x00);
    if (!s.list_file)
      if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, pattern)) return code;
    Packer packer(frame, s, kind);
    if (StatusCode code =
            packer.Start(password, archive_path.c_str(), s.list_file ? nullptr : base.c_str(), nullptr))
      return code;
    packer.SetBase(base.c_str());
    if (s.list_file) {
      if (StatusCode code = ListNames(source_path.c_str(), archive_path.c_str(), base, packer)) return code;
    } else if (StatusCode code = Walk(base.c_str(), pattern.c_str(), archive_path.c_str(), packer)) {
      return code;
    }
    if (packer.empty()) return ConditionCode(Cls::NothingToDo, 0, 0x02);
    if (kind == Kind::kSolid) packer.OrderFiles();
    if (StatusCode code = packer.Create(archive_path.c_str())) return code;
    if (StatusCode code = packer.PackEntries()) return code;
    return packer.Finish();
  });
}

}  // namespace

StatusCode svz_pack1(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options) {
  if (options == nullptr) return ConditionCode(Cls::BadArgument, 0, 0x00);
  return frame::RunExport(parent, options[1], [&](frame::CallFrame& frame) -> StatusCode {
    Settings s;
    if (StatusCode code = ReadOptions(options, Kind::kSingle, s)) return code;
    WidePath archive_path, source_path, base, name;
    if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
    if (StatusCode code = frame::ToWidePath(source, source_path)) return code;
    if (StatusCode code = frame::SplitSourcePath(source_path.c_str(), base, name)) return code;
    Packer packer(frame, s, Kind::kSingle);
    if (StatusCode code = packer.Start(password, archive_path.c_str(), base.c_str(), name.c_str()))
      return code;
    std::u16string full = Join(base.c_str(), name.c_str());
    if (full.size() >= platform::kWidePathUnits) return ConditionCode(Cls::NameLength, 0, 0x02);
    platform::FileInfo info;
    if (!platform::GetFileInfo(full.c_str(), info)) return SystemCode(SysCall::GetFileAttributes, 0, 0x00);
    if (info.attributes & platform::kAttrDirectory) return ConditionCode(Cls::NoDirectory, 0, 0x00);
    // The archive replaces its file only at the end; packing that file into it would lose it.
    if (platform::SameFile(full.c_str(), archive_path.c_str()))
      return SystemCode(SysCall::CreateFile, 0, 0x00);
    packer.SetBase(base.c_str());
    packer.Add(name.c_str(), info);
    if (StatusCode code = packer.Create(archive_path.c_str())) return code;
    if (StatusCode code = packer.PackEntries()) return code;
    return packer.Finish();
  });
}

StatusCode svz_pack2(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options) {
  return PackTree(parent, archive, source, password, options, Kind::kFolders);
}

StatusCode svz_pack3(void* parent, const char* archive, const char* source, const char* password,
                     const uint32_t* options) {
  return PackTree(parent, archive, source, password, options, Kind::kSolid);
}

}  // namespace tx::svz
