#include "filters/filter_edit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "base/text.h"
#include "filters/ip_filter.h"
#include "platform/platform.h"

namespace qvx {

namespace {

// Both entry layouts share the date fields and KanshiJogaiInfoFlg at the same positions.
const ExclusionInfoSt* Entry(const char* text) {
  return reinterpret_cast<const ExclusionInfoSt*>(text);
}

char (*LiveData(FilterKind kind))[kFilterLineSize] {
  return kind == FilterKind::kExclusion ? ExclusionInfoData : IpAddFilterInfoData;
}
int* LiveCount(FilterKind kind) {
  return kind == FilterKind::kExclusion ? &ExclusionInfoDataNo : &IpAddFilterInfoDataNo;
}

char ValidFlgOf(FilterKind kind, const char* entry) {
  return kind == FilterKind::kExclusion ? Entry(entry)->ValidFlg
                                        : reinterpret_cast<const IpFilterInfoSt*>(entry)->ValidFlg;
}

int DateResult(const char* entry, char* out) {
  const ExclusionInfoSt* e = Entry(entry);
  return ExclusionDateChk(out, e->sYear, e->sMon, e->sDay, e->eYear, e->eMon, e->eDay);
}

// The two-digit entry number at the start of a line, without touching the separator after it.
void SetNo(char* entry, int no) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", no % 100);
  entry[0] = buf[0];
  entry[1] = buf[1];
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

// One date of the entry dialog; "" or the message naming the field.
std::string CheckDate(const char* which, const std::string& y, const std::string& m,
                      const std::string& d, long* value) {
  int year = 0, mon = 0, day = 0;
  if (y.size() != 4 || !DecimalText(y.c_str(), &year) || year < 1)
    return std::string("A useful range is not right.\r\n") + which +
           " year: enter a year of four digits.";
  if (!DecimalText(m.c_str(), &mon) || mon < 1 || mon > 12)
    return std::string("A useful range is not right.\r\n") + which +
           " month: enter a month from 1 to 12.";
  if (!DecimalText(d.c_str(), &day) || day < 1 || day > DaysInMonth(year, mon)) {
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "A useful range is not right.\r\n%s day: %04d/%02d has days 1 to %d.", which,
                  year, mon, DaysInMonth(year, mon));
    return buf;
  }
  *value = year * 10000L + mon * 100L + day;
  return "";
}

// The longest path a saved line keeps: the reader takes 289 characters of a line, the line
// ending's two characters included, and the path starts at position 29.
constexpr size_t kMaxEntryPath = 258;

}  // namespace

void FilterTableGet(FilterKind kind, FilterTable* out) {
  std::lock_guard<std::mutex> lock(FilterTableLock());
  std::memcpy(out->Data, LiveData(kind), sizeof out->Data);
  out->No = *LiveCount(kind);
}

void FilterTableSwapIn(FilterKind kind, const FilterTable& t) {
  std::lock_guard<std::mutex> lock(FilterTableLock());
  std::memcpy(LiveData(kind), t.Data, sizeof t.Data);
  *LiveCount(kind) = t.No;
}

bool FilterEntryInForce(FilterKind kind, const char* entry) {
  const char valid = ValidFlgOf(kind, entry);
  const bool enabled = kind == FilterKind::kExclusion ? valid == '1' : valid != '0';
  return enabled && DateResult(entry, nullptr) == 0;
}

std::vector<std::string> FilterRowTexts(FilterKind kind, const FilterTable& t, int i) {
  const char* entry = t.Data[i];
  const ExclusionInfoSt* e = Entry(entry);
  char no[16], term[24] = {};
  std::snprintf(no, sizeof no, "%02d", i + 1);
  const int r = DateResult(entry, term);
  // State says what the filter does with the entry: in force, over, or not in force.
  const char* state = r == 2 ? "    XX" : FilterEntryInForce(kind, entry) ? "    ON" : "--  ";
  std::vector<std::string> row = {no, state, e->KanshiJogaiInfoFlg == '1' ? "Surv" : "Excl", term};
  if (kind == FilterKind::kExclusion) {
    row.push_back(e->MatchKind == '0'   ? "File"
                  : e->MatchKind == '1' ? "Inside of a folder"
                                        : "Folder subordinate");
    row.push_back(e->ExclusionFilePath);
  } else {
    row.push_back(reinterpret_cast<const IpFilterInfoSt*>(entry)->IpAddr);
  }
  return row;
}

void FilterDeleteRows(FilterTable* t, std::vector<int> rows) {
  // From the last selected row up, so that each index still names the row the user selected.
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const int r = *it;
    if (r < 0 || r >= t->No) continue;
    for (int j = r; j + 1 < t->No; ++j) {
      std::memcpy(t->Data[j], t->Data[j + 1], kFilterLineSize);
      SetNo(t->Data[j], j + 1);
    }
    std::memset(t->Data[t->No - 1], 0, kFilterLineSize);
    --t->No;
  }
}

void FilterSetValid(FilterKind kind, FilterTable* t, const std::vector<int>& rows, bool valid) {
  for (int r : rows) {
    if (r < 0 || r >= t->No || DateResult(t->Data[r], nullptr) == 2) continue;
    char* entry = t->Data[r];
    char* flg = kind == FilterKind::kExclusion
                    ? &reinterpret_cast<ExclusionInfoSt*>(entry)->ValidFlg
                    : &reinterpret_cast<IpFilterInfoSt*>(entry)->ValidFlg;
    *flg = valid ? '1' : '0';
  }
}

std::string FilterEntryCheck(FilterKind kind, const FilterEntryFields& f) {
  if (f.term) {
    long start = 0, end = 0;
    std::string m = CheckDate("Start", f.sYear, f.sMon, f.sDay, &start);
    if (m.empty()) m = CheckDate("End", f.eYear, f.eMon, f.eDay, &end);
    if (!m.empty()) return m;
    if (end < start)
      return "A useful range is not right.\r\nThe end date is before the start date.";
  }
  if (kind == FilterKind::kExclusion) {
    if (f.path.empty()) return "The surveillance exclusion folder is not inputted.";
    if (f.path.size() > kMaxEntryPath) return "The monitor path is longer than 258 characters.";
    if (f.path.find_first_of("\r\n") != std::string::npos)
      return "The monitor path must be one line.";
    return "";
  }
  for (const std::string& o : f.octet)
    if (o.empty()) return "The IP address is not inputted.";
  for (int i = 0; i < 4; ++i) {
    int v = 0;
    if (!DecimalText(f.octet[i].c_str(), &v) || v > 255) {
      char buf[96];
      std::snprintf(buf, sizeof buf, "IP address, octet %d: enter a number from 0 to 255.", i + 1);
      return buf;
    }
  }
  return "";
}

bool FilterEntryAppend(FilterKind kind, FilterTable* t, const FilterEntryFields& f) {
  if (t->No >= kFilterEntries) return false;
  int sy = 0, sm = 0, sd = 0, ey = 0, em = 0, ed = 0;
  if (f.term) {
    DecimalText(f.sYear.c_str(), &sy);
    DecimalText(f.sMon.c_str(), &sm);
    DecimalText(f.sDay.c_str(), &sd);
    DecimalText(f.eYear.c_str(), &ey);
    DecimalText(f.eMon.c_str(), &em);
    DecimalText(f.eDay.c_str(), &ed);
  }
  char* slot = t->Data[t->No];
  std::memset(slot, 0, kFilterLineSize);
  const int no = t->No + 1;
  if (kind == FilterKind::kExclusion) {
    std::snprintf(slot, kFilterLineSize, "%02d,%04d%02d%02d,-,%04d%02d%02d,%1d,%1d,1,%s", no, sy,
                  sm, sd, ey, em, ed, f.KanshiJogaiInfoFlg, f.MatchKind, f.path.c_str());
  } else {
    // The address as the capture loop spells a frame's address, or it would never match.
    int o[4] = {};
    for (int i = 0; i < 4; ++i) DecimalText(f.octet[i].c_str(), &o[i]);
    std::snprintf(slot, kFilterLineSize, "%02d,%04d%02d%02d,-,%04d%02d%02d,%1d,1,%d.%d.%d.%d", no,
                  sy, sm, sd, ey, em, ed, f.KanshiJogaiInfoFlg, o[0], o[1], o[2], o[3]);
  }
  t->No = no;
  return true;
}

bool FilterTableSave(FilterKind kind, const FilterTable& t, const char* path) {
  std::unique_ptr<WritableFile> f = platform().OpenWritable(path, OpenMode::kCreateAlways);
  if (!f) return false;
  bool ok = true;
  for (int i = 0; i < t.No; ++i) {
    const char* entry = t.Data[i];
    const ExclusionInfoSt* e = Entry(entry);
    const int sy = EntryDigits(e->sYear, 4), sm = EntryDigits(e->sMon, 2),
              sd = EntryDigits(e->sDay, 2), ey = EntryDigits(e->eYear, 4),
              em = EntryDigits(e->eMon, 2), ed = EntryDigits(e->eDay, 2);
    // The line ending CR CR LF is what a text-mode stream makes of "\r\n" on Windows; written as
    // bytes so that both builds save the same file.
    char line[kFilterLineSize + 64];
    int n;
    if (kind == FilterKind::kExclusion) {
      n = std::snprintf(line, sizeof line, "%02d,%04d%02d%02d,-,%04d%02d%02d,%c,%c,%c,%s\r\r\n",
                        i + 1, sy, sm, sd, ey, em, ed, e->KanshiJogaiInfoFlg, e->MatchKind,
                        e->ValidFlg, e->ExclusionFilePath);
    } else {
      const auto* ip = reinterpret_cast<const IpFilterInfoSt*>(entry);
      n = std::snprintf(line, sizeof line, "%02d,%04d%02d%02d,-,%04d%02d%02d,%c,%c,%s\r\r\n", i + 1,
                        sy, sm, sd, ey, em, ed, ip->KanshiJogaiInfoFlg, ip->ValidFlg, ip->IpAddr);
    }
    ok &= f->Write(line, static_cast<size_t>(n), false);
    ok &= f->Flush();
  }
  return ok;
}

const char* FilterFilePath(FilterKind kind) {
  static std::string fallback;
  const char* saved =
      kind == FilterKind::kExclusion ? ExclusionInfoFilePath : IpAddFilterInfoFilePath;
  if (saved[0] != '\0') return saved;
  fallback = platform().CurrentDirectory() + kPathSep +
             (kind == FilterKind::kExclusion ? kExclusionFileName : kIpFilterFileName);
  return fallback.c_str();
}

}  // namespace qvx
