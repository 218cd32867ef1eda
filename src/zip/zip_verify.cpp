#include "zip/zip_verify.h"

#include <memory>
#include <new>
#include <string>

#include "frame/call_frame.h"
#include "frame/listing.h"
#include "frame/output_tree.h"
#include "frame/paths.h"
#include "platform/fs.h"
#include "zip/zip_cd.h"
#include "zip/zip_certs.h"
#include "zip/zip_unpack.h"

namespace tx::zip {

namespace {

constexpr uint8_t kPlace = 0x57;

// Certificate names come from the archive: control characters would fake report lines.
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string Verdict(StatusCode code) {
  if (code == kOk) return "Signature (OK)";
  std::string text = "Signature (BAD ";
  text.append(frame::FormatText("0x%08X", code)).append(")");
  return text;
}

std::string SignerLine(const ZipArchiveState& state, const uint8_t* signature, size_t size) {
  SignerTrust trust;
  if (!DescribeSigner(state.certificate_store, state.certificate_store_length, signature, size, trust))
    return ", signer not in the archive";
  std::string text = ", signed by ";
  text.append(Printable(trust.subject)).append(" (").append(TrustText(trust)).append(")");
  return text;
}

// Removed when the call ends, after the tree that writes into it has discarded its files.
struct PrivateFolder {
  platform::WidePath path;
  ~PrivateFolder() {
    if (!path.empty()) platform::RemoveEmptyFolder(path.c_str());
  }
};

}  // namespace

StatusCode VerifyArchive(void* parent, const char* archive, const char* password, char* report,
                         uint32_t report_size, uint32_t flags) {
  if (report == nullptr || report_size == 0) return ConditionCode(Cls::BadArgument, kPlace, 0x01);
  return frame::RunExport(
      parent, flags & frame::CallFrame::kFlagAskPassword, [&](frame::CallFrame& frame) -> StatusCode {
        KeyRecoveryScope keys;  // the personal store and its keys, read once for the call
        frame::ListingText text(report, report_size);
        platform::WidePath archive_path;
        if (StatusCode code = frame::ToWidePath(archive, archive_path)) return code;
        Password secret;
        secret.Set(password);
        uint32_t call_flags = frame.flags();
        CentralDirectory cd;
        Wiped<ZipArchiveState> state_holder;
        Wiped<ZipEntryInfo> entry_holder;
        ZipArchiveState& state = *state_holder;
        ZipEntryInfo& entry = *entry_holder;
        if (StatusCode code = OpenCentralDirectory(archive_path.c_str(), DirectoryLimit::kWhole, cd, state))
          return code;
        if (StatusCode code = DecodeCentralDirectory(cd, state, call_flags, secret)) return code;
        MemberLayout layout;
        if (StatusCode code = layout.Load(cd, state)) return code;

        // Signed members are unpacked into a private temporary folder and never kept: the
        // tree removes what it has not published, and nobody else can read decrypted data
        // while it passes through.
        PrivateFolder temporary;
        frame::OutputTree tree;
        if (!platform::PrivateTempFolder(u"tessarex-verify-", temporary.path))
          return SystemCode(platform::SysCall::GetTempPath, kPlace, 0x01);
        if (StatusCode code = tree.Open(temporary.path.c_str())) return code;
        std::unique_ptr<uint8_t[]> input(new (std::nothrow) uint8_t[kDataBlock]);
        std::unique_ptr<uint8_t[]> output(new (std::nothrow) uint8_t[kDataBlock]);
        if (!input || !output) return ConditionCode(Cls::NoMemory, kPlace, 0x01);
        MemberReader reader{cd.file, call_flags, secret, input.get(), output.get()};

        StatusCode first_failure = kOk;
        bool any = false;
        auto line = [&](const std::string& what, StatusCode code, const uint8_t* signature, size_t size) {
          any = true;
          if (first_failure == kOk) first_failure = code;
          std::string out;
          out.append(what).append(Verdict(code)).append(SignerLine(state, signature, size)).append("\n");
          return text.Add(out);
        };
        size_t position = 0;
        for (uint32_t index = 1; position < cd.length; ++index) {
          entry = ZipEntryInfo{};
          uint64_t offset = 0;
          size_t record_length = 0;
          if (StatusCode code = ReadCentralRecord(cd.block.get() + position, cd.length - position, offset,
                                                  true, record_length, entry, state))
            return code;
          position += record_length;
          offset += cd.prefix;
          // The directory's signature needs the signer's store of the first record.
          if (index == 1 && state.cd_signature_length > 0)
            if (StatusCode code =
                    line("Directory: ", VerifySignature(state.cd_signature, state.cd_signature_length, state),
                         state.cd_signature, state.cd_signature_length))
              return code;
          if (entry.signature_length == 0) continue;
          std::string name;
          if (!frame::ListingName(entry.name.c_str(), name)) name.assign(1, '?');
          StatusCode checked = kOk;
          uint64_t data_offset = 0;
          std::u16string scratch = u"tessarex-verify-";
          scratch.push_back(static_cast<char16_t>(u'a' + index % 26));
          if ((checked = SkipLocalHeader(cd.file, offset, data_offset)) == kOk &&
              (checked = layout.CheckMember(offset, data_offset, entry.compressed_size)) == kOk)
            checked = UnpackMember(reader, tree, scratch.c_str(), entry, state);
          tree.DiscardAll();
          // A member that checked out was published: it goes too.
          std::u16string unpacked = temporary.path.c_str();
          unpacked.append(u"/").append(scratch);
          platform::DeleteFile(unpacked.c_str());
          std::string what = "Member ";
          what.append(name).append(": ");
          if (StatusCode code = line(what, checked, entry.signature, entry.signature_length)) return code;
        }
        if (!any) return ConditionCode(Cls::NothingToDo, kPlace, 0x01);
        return first_failure;
      });
}

}  // namespace tx::zip
