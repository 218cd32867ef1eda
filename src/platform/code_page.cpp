#include "platform/code_page.h"

#include <errno.h>
#include <iconv.h>
#include <stdlib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace tx::platform {

namespace {

// Bytes 0x80-0xFF of code page 437, the DOS code page of US English: the page for most
// locales, so it needs no converter.
constexpr char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// Bytes 0x80-0xFF of code page 720 (DOS Arabic), which glibc's iconv does not carry.
constexpr char16_t kCp720High[128] = {
    0x0080, 0x0081, 0x00E9, 0x00E2, 0x0084, 0x00E0, 0x0086, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x008D, 0x008E, 0x008F, 0x0090, 0x0651, 0x0652, 0x00F4, 0x00A4, 0x0640, 0x00FB, 0x00F9, 0x0621, 0x0622,
    0x0623, 0x0624, 0x00A3, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629, 0x062A, 0x062B, 0x062C, 0x062D, 0x062E,
    0x062F, 0x0630, 0x0631, 0x0632, 0x0633, 0x0634, 0x0635, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x0636, 0x0637, 0x0638, 0x0639, 0x063A, 0x0641, 0x00B5, 0x0642,
    0x0643, 0x0644, 0x0645, 0x0646, 0x0647, 0x0648, 0x0649, 0x064A, 0x2261, 0x064B, 0x064C, 0x064D, 0x064E,
    0x064F, 0x0650, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

const char16_t* HighHalf(uint32_t code_page) {
  return code_page == 437 ? kCp437High : code_page == 720 ? kCp720High : nullptr;
}

// One iconv descriptor per code page for the life of the library, opened on first use.
// A descriptor carries shift state, so a conversion holds the lock from reset to flush.
class Converters {
 public:
  ~Converters() {
    for (const Entry& entry : entries_)
      if (entry.cd != Closed()) ::iconv_close(entry.cd);
  }

  bool Known(uint32_t code_page) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Find(code_page) != Closed();
  }

  bool Decode(uint32_t code_page, const uint8_t* bytes, size_t size, char16_t* out, size_t capacity) {
    std::lock_guard<std::mutex> lock(mutex_);
    iconv_t cd = Find(code_page);
    if (cd == Closed()) return false;
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // UTF-16LE bytes straight into `out`, leaving room for the terminator; E2BIG means too long.
    char* in = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes));
    size_t in_left = size;
    char* const start = reinterpret_cast<char*>(out);
    char* at = start;
    size_t out_left = 2 * (capacity - 1);
    if (::iconv(cd, &in, &in_left, &at, &out_left) == static_cast<size_t>(-1) || in_left != 0) return false;
    if (::iconv(cd, nullptr, nullptr, &at, &out_left) == static_cast<size_t>(-1)) return false;
    const size_t units = static_cast<size_t>(at - start) / 2;
    for (size_t i = 0; i < units; ++i) {
      uint8_t pair[2];
      std::memcpy(pair, start + 2 * i, 2);
      out[i] = static_cast<char16_t>(pair[0] | pair[1] << 8);
      if (out[i] == 0) return false;  // a name cut short would be another name
    }
    out[units] = 0;
    return true;
  }

 private:
  struct Entry {
    uint32_t code_page;
    iconv_t cd;
  };

  static iconv_t Closed() { return reinterpret_cast<iconv_t>(-1); }

  // The descriptor of `code_page`, Closed() when iconv does not know it (remembered too).
  iconv_t Find(uint32_t code_page) {
    for (const Entry& entry : entries_)
      if (entry.code_page == code_page) return entry.cd;
    char name[16];
    std::snprintf(name, sizeof name, "CP%u", static_cast<unsigned>(code_page));
    iconv_t cd = ::iconv_open("UTF-16LE", name);
    try {
      entries_.push_back({code_page, cd});
    } catch (...) {
      if (cd != Closed()) ::iconv_close(cd);
      return Closed();
    }
    return cd;
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

Converters& TheConverters() {
  static Converters converters;
  return converters;
}

struct LanguagePage {
  const char* language;
  uint16_t code_page;
};

// Languages whose OEM code page does not depend on territory or script.
constexpr LanguagePage kLanguagePages[] = {
    {"ja", 932}, {"ko", 949}, {"th", 874}, {"el", 737}, {"he", 862}, {"iw", 862}, {"vi", 1258}, {"ar", 720},
    {"fa", 720}, {"ur", 720}, {"tr", 857}, {"ru", 866}, {"uk", 866}, {"be", 866}, {"bg", 866},  {"mk", 866},
    {"kk", 866}, {"ky", 866}, {"tt", 866}, {"tg", 866}, {"mn", 866}, {"ba", 866}, {"sah", 866}, {"pl", 852},
    {"cs", 852}, {"sk", 852}, {"hu", 852}, {"sl", 852}, {"hr", 852}, {"ro", 852}, {"sq", 852},  {"lt", 775},
    {"lv", 775}, {"et", 775}, {"de", 850}, {"fr", 850}, {"es", 850}, {"it", 850}, {"pt", 850},  {"nl", 850},
    {"sv", 850}, {"da", 850}, {"nb", 850}, {"nn", 850}, {"no", 850}, {"fi", 850}, {"is", 850},  {"ca", 850},
    {"eu", 850}, {"gl", 850}, {"af", 850}, {"id", 850}, {"ms", 850}, {"fo", 850}, {"cy", 850},  {"ga", 850},
    {"gd", 850}, {"lb", 850}, {"br", 850}, {"fy", 850}, {"rm", 850}, {"se", 850}, {"oc", 850},  {"co", 850}};

// English outside these territories (the United States, South Africa, India, ...) keeps 437.
constexpr const char* kEnglish850[] = {"GB", "IE", "AU", "NZ", "CA", "JM", "BZ", "TT"};

uint32_t LocaleChoice() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = ::getenv(name);
    if (value != nullptr && *value != 0) {
      const uint32_t code_page = OemCodePageOfLocale(value);
      return CodePageKnown(code_page) ? code_page : 437;
    }
  }
  return 437;
}

std::atomic<uint32_t> chosen_code_page{0};

}  // namespace

uint32_t OemCodePageOfLocale(std::string_view locale) {
  const size_t language_end = locale.find_first_of("_.@");
  const std::string_view language = locale.substr(0, language_end);
  std::string_view territory;
  if (language_end != std::string_view::npos && locale[language_end] == '_') {
    territory = locale.substr(language_end + 1);
    territory = territory.substr(0, territory.find_first_of(".@"));
  }
  const size_t at = locale.find('@');
  const std::string_view modifier = at == std::string_view::npos ? std::string_view{} : locale.substr(at + 1);

  if (language == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
  if (language == "sr") return modifier == "latin" ? 852 : 855;  // glibc's Serbian is Cyrillic unless marked
  if (language == "bs") return modifier == "cyrillic" ? 855 : 852;
  if (language == "az" || language == "uz") return modifier == "cyrillic" ? 866 : 857;
  if (language == "en") {
    for (const char* english : kEnglish850)
      if (territory == english) return 850;
    return 437;
  }
  for (const LanguagePage& entry : kLanguagePages)
    if (language == entry.language) return entry.code_page;
  return 437;
}

bool CodePageKnown(uint32_t code_page) {
  if (HighHalf(code_page) != nullptr) return true;
  return code_page != 0 && code_page <= 0xFFFF && TheConverters().Known(code_page);
}

bool SetNameCodePage(uint32_t code_page) {
  if (code_page != 0 && !CodePageKnown(code_page)) return false;
  chosen_code_page.store(code_page, std::memory_order_relaxed);
  return true;
}

uint32_t NameCodePage() {
  const uint32_t chosen = chosen_code_page.load(std::memory_order_relaxed);
  if (chosen != 0) return chosen;
  static const uint32_t from_locale = LocaleChoice();  // the environment is read once
  return from_locale;
}

bool DecodeCodePage(uint32_t code_page, const uint8_t* bytes, size_t size, char16_t* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = 0;
  bool decoded;
  if (const char16_t* high = HighHalf(code_page)) {
    decoded = size + 1 <= capacity;
    for (size_t i = 0; decoded && i < size; ++i) {
      out[i] = bytes[i] < 0x80 ? bytes[i] : high[bytes[i] - 0x80];
      decoded = out[i] != 0;
    }
    if (decoded) out[size] = 0;
  } else {
    decoded = code_page != 0 && code_page <= 0xFFFF &&
              TheConverters().Decode(code_page, bytes, size, out, capacity);
  }
  if (!decoded) out[0] = 0;
  return decoded;
}

}  // namespace tx::platform
