#include "frame/name_list.h"

#include <array>
#include <cstring>
#include <new>

#include "frame/names.h"
#include "frame/paths.h"
#include "platform/file.h"

namespace tx::frame {

namespace {

// Extensions grouped for solid packing, in the order the groups are written. ".sxi" stands
// twice; names take the first.
constexpr char16_t kTypeTable[] =
    u".lzma.7z.ace.arc.arj.bz.bz2.deb.lzo.lzx.gz.pak.rpm.sit.tgz.tbz.tbz2.cab.ha.lha.lzh.rar"
    u".zoo.zip.jar.ear.war.msi.3gp.avi.mov.mpeg.mpg.mpe.wmv.aac.ape.fla.flac.la.mp3.m4a.mp4"
    u".ofr.ogg.pac.ra.rm.rka.shn.swa.tta.wv.wma.wav.swf.chm.hxi.hxs.gif.jpeg.jpg.jp2.png.tiff"
    u".bmp.ico.psd.psp.awg.ps.eps.cgm.dxf.svg.vrml.wmf.emf.ai.md.cad.dwg.pps.key.sxi.max.3ds"
    u".iso.bin.nrg.mdf.img.pdi.tar.cpio.xpi.vfd.vhd.vud.vmc.vsv.vmdk.dsk.nvram.vmem.vmsd.vmsn"
    u".vmss.vmtm.inl.inc.idl.acf.asa.h.hpp.hxx.c.cpp.cxx.rc.java.cs.pas.bas.vb.cls.ctl.frm.dlg"
    u".def.f77.f.f90.f95.asm.sql.manifest.dep.mak.clw.csproj.vcproj.sln.dsp.dsw.class.bat.cmd"
    u".xml.xsd.xsl.xslt.hxk.hxc.htm.html.xhtml.xht.mht.mhtml.htw.asp.aspx.css.cgi.jsp.shtml"
    u".awk.sed.hta.js.php.php3.php4.php5.phptml.pl.pm.py.pyo.rb.sh.tcl.vbs.text.txt.tex.ans"
    u".asc.srt.reg.ini.doc.docx.mcw.dot.rtf.hlp.xls.xlr.xlt.xlw.ppt.pdf.sxc.sxd.sxi.sxg.sxw"
    u".stc.sti.stw.stm.odt.ott.odg.otg.odp.otp.ods.ots.odf.abw.afp.cwk.lwp.wpd.wps.wpt.wrf.wri"
    u".abf.afm.bdf.fon.mgf.otf.pcf.pfa.snf.ttf.dbf.mdb.nsf.ntf.wdb.db.fdb.gdb.exe.dll.ocx.vbx"
    u".sfx.sys.tlb.awx.com.obj.lib.out.o.so.pdb.pch.idb.ncb.opt";

struct Extension {
  const char16_t* text;
  size_t size;
};

constexpr size_t CountExtensions(const char16_t* list) {
  size_t n = 0;
  for (; *list != 0; ++list) n += *list == u'.';
  return n;
}

template <size_t N>
constexpr std::array<Extension, N> SplitExtensions(const char16_t* list) {
  std::array<Extension, N> out{};
  size_t n = 0;
  for (size_t i = 0; list[i] != 0; ++i) {
    if (list[i] != u'.') continue;
    size_t end = i + 1;
    while (list[end] != 0 && list[end] != u'.') ++end;
    out[n++] = Extension{list + i, end - i};
  }
  return out;
}

constexpr size_t kTypeCount = CountExtensions(kTypeTable);
static_assert(kTypeCount == 269);
constexpr auto kTypes = SplitExtensions<kTypeCount>(kTypeTable);
constexpr auto kExecutables = SplitExtensions<CountExtensions(kExecutableExtensions)>(kExecutableExtensions);
constexpr size_t kNoType = kTypeCount;

// One name of a list: [start, end), `end` being the index of its zero.
struct Span {
  size_t start;
  size_t end;
};

size_t NameEnd(const char16_t* names, size_t length, size_t start) {
  while (start < length && names[start] != 0) ++start;
  return start;
}

template <typename Visit>
void ForEachName(const char16_t* names, size_t length, Visit visit) {
  for (size_t start = 0; start < length;) {
    size_t end = NameEnd(names, length, start);
    visit(Span{start, end});
    start = end + 1;
  }
}

// The extension from the last "." (empty span when there is none).
Span LastExtension(const char16_t* names, Span name) {
  for (size_t i = name.end; i > name.start; --i) {
    if (names[i - 1] == u'.') return Span{i - 1, name.end};
  }
  return Span{name.end, name.end};
}

// A "."-led extension without another "." is a name's tail exactly when it equals the
// name's extension from its last ".", so one look-up per name serves every table entry.
template <size_t N>
size_t FindExtension(const std::array<Extension, N>& table, const char16_t* names, Span ext) {
  size_t size = ext.end - ext.start;
  for (size_t i = 0; i < N; ++i) {
    if (table[i].size == size && EqualFoldingAZ(table[i].text, names + ext.start, size)) return i;
  }
  return N;
}

// Moves names into the second list; a taken name is filled with "?" so it has no "."
// and no later stage sees it.
class Taker {
 public:
  Taker(char16_t* names, char16_t* out) : names_(names), out_(out) {}

  void Copy(Span name) {
    std::memcpy(out_ + used_, names_ + name.start, (name.end - name.start) * sizeof(char16_t));
    used_ += name.end - name.start;
    out_[used_++] = 0;
  }
  void Take(Span name) {
    Copy(name);
    for (size_t i = name.start; i < name.end; ++i) names_[i] = u'?';
  }
  size_t used() const { return used_; }

 private:
  char16_t* names_;
  char16_t* out_;
  size_t used_ = 0;
};

bool HasDot(const char16_t* names, Span name) { return LastExtension(names, name).start < name.end; }

// `names` holds `length` units of names, each ended by its zero.
void GroupByType(char16_t* names, size_t length, char16_t* sorted) {
  Taker taker(names, sorted);
  ForEachName(names, length, [&](Span name) {
    if (!HasDot(names, name)) taker.Copy(name);
  });
  // Names of a table type, group by group in table order, each group in list order.
  std::array<size_t, kTypeCount + 1> group_units{};
  ForEachName(names, length, [&](Span name) {
    group_units[FindExtension(kTypes, names, LastExtension(names, name))] += name.end - name.start + 1;
  });
  std::array<size_t, kTypeCount + 1> group_start{};
  for (size_t i = 1; i <= kTypeCount; ++i) group_start[i] = group_start[i - 1] + group_units[i - 1];
  // The table groups fill the second list from its current end; the names of no table type
  // stay where they are for the last stage.
  size_t base = taker.used();
  size_t table_units = group_start[kTypeCount];
  ForEachName(names, length, [&](Span name) {
    size_t type = FindExtension(kTypes, names, LastExtension(names, name));
    if (type == kNoType) return;
    size_t& at = group_start[type];
    size_t size = name.end - name.start;
    std::memcpy(sorted + base + at, names + name.start, size * sizeof(char16_t));
    sorted[base + at + size] = 0;
    at += size + 1;
    for (size_t i = name.start; i < name.end; ++i) names[i] = u'?';
  });
  size_t after_table = base + table_units;
  Taker rest(names, sorted + after_table);

  // The remaining names, grouped by extension in order of first appearance.
  size_t cursor = 0;
  while (cursor < length) {
    size_t end = NameEnd(names, length, cursor);
    Span first{cursor, end};
    cursor = end + 1;
    if (!HasDot(names, first)) continue;
    Span ext = LastExtension(names, first);
    size_t ext_offset = rest.used() + (ext.start - first.start);
    size_t ext_size = ext.end - ext.start;
    rest.Take(first);
    const char16_t* current = sorted + after_table + ext_offset;  // the taken copy keeps the text
    for (size_t start = cursor; start < length;) {
      Span name{start, NameEnd(names, length, start)};
      start = name.end + 1;
      Span other = LastExtension(names, name);
      if (other.start < name.end && other.end - other.start == ext_size &&
          EqualFoldingAZ(names + other.start, current, ext_size)) {
        rest.Take(name);
      }
    }
  }
}

void ExecutablesLast(const char16_t* names, size_t length, char16_t* sorted) {
  size_t used = 0;
  auto copy = [&](Span name) {
    std::memcpy(sorted + used, names + name.start, (name.end - name.start) * sizeof(char16_t));
    used += name.end - name.start;
    sorted[used++] = 0;
  };
  auto is_executable = [&](Span name) {
    return FindExtension(kExecutables, names, LastExtension(names, name)) < kExecutables.size();
  };
  ForEachName(names, length, [&](Span name) {
    if (!is_executable(name)) copy(name);
  });
  ForEachName(names, length, [&](Span name) {
    if (is_executable(name)) copy(name);
  });
}

StatusCode ListCode(Cls cls, uint8_t occurrence) { return ConditionCode(cls, kPlaceListFile, occurrence); }
StatusCode ListSystemCode(platform::SysCall call) { return SystemCode(call, kPlaceListFile, 0x01); }

// Checks one line. The base is a platform path, which here may begin with "/"; a name
// is checked again once its "\" are "/", as it will be stored.
StatusCode CheckLine(char16_t* line, bool is_base) {
  if (is_base) {
    StatusCode code = CheckName(line, kRefusedPeaPath);
    return code == ConditionCode(Cls::BadName, place::kNameCheck, 0x05) ? kOk : code;
  }
  if (StatusCode code = CheckName(line, kRefusedListName)) return code;
  for (char16_t* c = line; *c != 0; ++c) {
    if (*c == u'\\') *c = u'/';
  }
  return CheckName(line, kRefusedListName);
}

}  // namespace

bool NameBuffer::Reserve(size_t units) {
  if (units <= capacity_) return true;
  std::unique_ptr<char16_t[]> grown(new (std::nothrow) char16_t[units]);
  if (!grown) return false;
  if (used_ > 0) std::memcpy(grown.get(), units_.get(), used_ * sizeof(char16_t));
  units_ = std::move(grown);
  capacity_ = units;
  return true;
}

bool NameBuffer::Append(const char16_t* name, size_t size) {
  size_t need = used_ + size + 1;
  if (need > capacity_) {
    size_t steps = (need - capacity_ + kGrowUnits - 1) / kGrowUnits;
    if (!Reserve(capacity_ + steps * kGrowUnits)) return false;
  }
  std::memcpy(units_.get() + used_, name, size * sizeof(char16_t));
  used_ += size;
  units_[used_++] = 0;
  return true;
}

StatusCode ReadListFile(const char16_t* path, platform::WidePath& base, uint32_t& count, NameBuffer& names) {
  base.units[0] = 0;
  count = 0;
  platform::File file;
  if (!file.Open(path, platform::Access::Read, platform::Disposition::OpenExisting, true))
    return ListSystemCode(platform::SysCall::CreateFile);
  uint64_t size;
  if (!file.Size(size) || size == 0) return ListSystemCode(platform::SysCall::GetFileSize);
  // Room for a final CR LF, so the last line ends like every other, and a zero.
  std::unique_ptr<char[]> text(new (std::nothrow) char[size + 3]);
  if (!text) return ListCode(Cls::NoMemory, 0x01);
  if (!file.Read(text.get(), size)) return ListSystemCode(platform::SysCall::ReadFile);
  file.Close();
  text[size] = '\r';
  text[size + 1] = '\n';
  text[size + 2] = 0;
  // Every name with its zero takes no more units than its line takes bytes with its CR.
  if (!names.Reserve(size + 3)) return ListCode(Cls::NoMemoryGrow, 0x01);
  names.Clear();

  platform::WidePath line;
  uint32_t lines = 0;
  const size_t end_of_text = size + 2;
  // A byte-order mark, as some editors write before UTF-8 text, is no part of the base.
  size_t first = size >= 3 && std::memcmp(text.get(), "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  for (size_t start = first; start < end_of_text;) {
    char* cr = static_cast<char*>(std::memchr(text.get() + start, '\r', end_of_text - start));
    if (cr == nullptr) break;  // only the LF appended after the last CR is left
    size_t end = static_cast<size_t>(cr - text.get());
    size_t next = end + 1;
    // Only an LF belongs to the line end; skipping any other byte would cut a name.
    if (text[next] == '\n') ++next;
    if (end > start) {
      // A zero byte would silently end the name early.
      if (std::memchr(text.get() + start, 0, end - start) != nullptr)
        return ListSystemCode(platform::SysCall::MultiByteToWide);
      text[end] = 0;
      if (!platform::Utf8ToUtf16(text.get() + start, line.units, platform::kWidePathUnits))
        return ListSystemCode(platform::SysCall::MultiByteToWide);
      if (StatusCode code = CheckLine(line.units, lines == 0)) return code;
      if (lines == 0) {
        base = line;
      } else if (!names.Append(line.units, line.length())) {
        return ListCode(Cls::NoMemoryGrow, 0x01);
      }
      ++lines;
    }
    start = next;
  }
  if (lines < 2) return ListCode(Cls::NothingToDo, 0x01);
  if (!FinishDirectory(base)) return ConditionCode(Cls::NameLength, place::kNameCheck, 0x02);
  count = lines - 1;
  return kOk;
}

StatusCode OrderByType(int mode, char16_t* names, size_t length) {
  if (mode == 0 || length == 0) return kOk;
  std::unique_ptr<char16_t[]> sorted(new (std::nothrow) char16_t[length]);
  if (!sorted) return ConditionCode(Cls::NoMemory, kPlaceTypeOrder, 0x01);
  // A last name without its zero is left where it is rather than moved unterminated.
  size_t whole = length;
  while (whole > 0 && names[whole - 1] != 0) --whole;
  GroupByType(names, whole, sorted.get());
  std::memcpy(names, sorted.get(), whole * sizeof(char16_t));
  if (mode == 2) {
    ExecutablesLast(names, whole, sorted.get());
    std::memcpy(names, sorted.get(), whole * sizeof(char16_t));
  }
  return kOk;
}

size_t AppendReversed(char16_t* target, size_t start, const char16_t* source, size_t length) {
  size_t out = start;
  size_t end = length;
  if (end > 0 && source[end - 1] == 0) --end;
  for (;;) {
    size_t begin = end;
    while (begin > 0 && source[begin - 1] != 0) --begin;
    if (end > begin) {
      std::memcpy(target + out, source + begin, (end - begin) * sizeof(char16_t));
      out += end - begin;
      target[out++] = 0;
    }
    if (begin == 0) return out;
    end = begin - 1;
  }
}

}  // namespace tx::frame
