#include "frame/status_text.h"

#include <cstdio>

#include "ui/texts.h"

namespace tx::frame {

namespace {

struct Name {
  uint8_t value;
  const char* text;
};

constexpr Name kSystemCalls[] = {
    {0x00, "closing a file"},
    {0x01, "finding files"},
    {0x02, "opening or creating a file"},
    {0x03, "reading a file, or fewer bytes read than asked"},
    {0x04, "writing a file"},
    {0x05, "moving the file position"},
    {0x06, "setting file times"},
    {0x07, "reading file times"},
    {0x08, "reading the file size"},
    {0x09, "reading the current directory, or it is 1024 units or longer"},
    {0x0A, "reading file attributes"},
    {0x0B, "creating a directory"},
    {0x0C, "finding the temporary directory"},
    {0x0D, "creating a temporary file"},
    {0x0E, "deleting a file"},
    {0x0F, "moving or renaming a file"},
    {0x20, "converting text to UTF-16 (not valid UTF-8, or too long)"},
    {0x21, "converting text from UTF-16"},
    {0x30, "a certificate store or cryptographic call"},
};

constexpr Name kClasses[] = {
    {0x01, "BadArgument"},   {0x02, "BadOption"},       {0x10, "BadName"},         {0x11, "NameLength"},
    {0x12, "NoDirectory"},   {0x13, "NothingToDo"},     {0x14, "NotADirectory"},   {0x18, "VolumeCount"},
    {0x20, "NoMemory"},      {0x21, "NoMemoryGrow"},    {0x28, "OutputTooSmall"},  {0x30, "CoderInit"},
    {0x31, "CoderFailed"},   {0x32, "CoderEnd"},        {0x33, "UnknownMethod"},   {0x40, "PasswordProblem"},
    {0x41, "PasswordWrong"}, {0x42, "AuthFailed"},      {0x43, "CipherData"},      {0x44, "UnknownCipher"},
    {0x45, "CipherParameter"}, {0x59, "SignatureWrong"}, {0x60, "ArchiveDamaged"}, {0x61, "ChecksumWrong"},
    {0x62, "DigestWrong"},   {0x90, "Cancelled"},
};

constexpr Name kPlaces[] = {
    {0x31, "name check"},
    {0x32, "argument conversion"},
    {0x33, "source path split"},
    {0x34, "output directory"},
    {0x35, "volume directory and name"},
    {0x36, "temporary file"},
    {0x37, "list file reader"},
    {0x38, "type ordering of names"},
    {0x39, "folder walk"},
    {0x3A, "parent directory creation"},
    {0x3B, "directory entry creation"},
    {0x3C, "empty file creation"},
    {0x3D, "naming extracted files"},
    {0x3E, "random generator"},
    {0x41, "file_crc32"},
    {0x42, "file_crc64"},
    {0x43, "file_md5"},
    {0x44, "file_ripemd160"},
    {0x45, "file_sha1"},
    {0x46, "file_sha256"},
    {0x47, "file_sha512"},
    {0x48, "file_whirlpool"},
    {0x61, "recipient certificate selection"},
    {0x62, "signer certificate selection"},
    {0x63, "private key loading"},
    {0x64, "certificate store"},
};

template <size_t N>
const char* Find(const Name (&table)[N], uint8_t value) {
  for (const Name& n : table)
    if (n.value == value) return n.text;
  return nullptr;
}

std::string ClassText(uint8_t system, uint8_t cls) {
  char buffer[64];
  if (system == 0x01) {
    const char* call = Find(kSystemCalls, cls);
    if (call) return std::string("system call failed: ") + call;
    std::snprintf(buffer, sizeof buffer, "system call failed: unknown call 0x%02X", cls);
    return buffer;
  }
  if (system != 0x00) {
    std::snprintf(buffer, sizeof buffer, "unknown system flag 0x%02X, class 0x%02X", system, cls);
    return buffer;
  }
  if (const char* name = Find(kClasses, cls)) return name;
  const char* group = (cls == 0x50 || cls == 0x51 || cls == 0x58) ? "certificate class"
                      : (cls >= 0x70 && cls <= 0x7A)             ? "archive header class"
                      : (cls >= 0x80 && cls <= 0x85)             ? "archive structure class"
                                                                 : "unknown class";
  std::snprintf(buffer, sizeof buffer, "%s 0x%02X", group, cls);
  return buffer;
}

}  // namespace

std::string DescribeStatus(StatusCode code, ui::Language language) {
  if (code == kOk) return "0x00000000 success";
  auto system = static_cast<uint8_t>(code >> 24);
  auto cls = static_cast<uint8_t>(code >> 16);
  auto where = static_cast<uint8_t>(code >> 8);
  auto occurrence = static_cast<uint8_t>(code);
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "0x%08X ", code);
  std::string out = buffer;
  out += ClassText(system, cls);
  const char* place_name = where == 0 ? "export body" : Find(kPlaces, where);
  if (place_name) {
    std::snprintf(buffer, sizeof buffer, "; place 0x%02X (%s)", where, place_name);
  } else {
    std::snprintf(buffer, sizeof buffer, "; place 0x%02X", where);
  }
  out += buffer;
  std::snprintf(buffer, sizeof buffer, "; occurrence %u", occurrence);
  out += buffer;
  const char* message = ui::MessageText(ui::NoticeMessageNumber(code), language);
  if (message && code > 0xFFFF) {
    out += ": ";
    for (const char* p = message; *p; ++p) out += *p == '\n' ? ' ' : *p;
  }
  return out;
}

}  // namespace tx::frame
