#include "filters/exclusion.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/dbglog.h"
#include "base/option.h"
#include "platform/path_match.h"
#include "platform/platform.h"

namespace qvx {

char ExclusionInfoData[kFilterEntries][kFilterLineSize];
int ExclusionInfoDataNo = 0;
int KnashiJyogaiBaseFlg = 0;
char ExclusionInfoFilePath[512];

std::mutex& FilterTableLock() {
  static std::mutex mu;
  return mu;
}

namespace {

// Longest line the reader keeps, as the file format allows.
constexpr size_t kMaxLine = kFilterLineSize - 1;
// Where the path (or address) of an entry line starts.
constexpr size_t kEntryPathOffset = offsetof(ExclusionInfoSt, ExclusionFilePath);

}  // namespace

int EntryDigits(const char* p, int n) {
  char buf[8] = {};
  std::memcpy(buf, p, static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    if (buf[i] < '0' || buf[i] > '9') buf[i] = '\0';
  return std::atoi(buf);
}

namespace {

int DateChkOf(const ExclusionInfoSt* e) {
  return ExclusionDateChk(nullptr, e->sYear, e->sMon, e->sDay, e->eYear, e->eMon, e->eDay);
}

bool Level6() { return OptionInfo.ErrorLevel >= 6; }

}  // namespace

int ExclusionInfoRead(const char* FileName, int* NorCnt, int MaxCnt,
                      char ExcInf[kFilterEntries][kFilterLineSize]) {
  std::memset(ExcInf, 0, sizeof(char) * kFilterEntries * kFilterLineSize);
  if (NorCnt) *NorCnt = 0;
  std::string text;
  if (FileName == nullptr || !platform().ReadWholeFile(FileName, &text)) return -1;
  if (MaxCnt > kFilterEntries) MaxCnt = kFilterEntries;

  int count = 0;
  int line_no = 0;
  size_t pos = 0;
  while (pos < text.size() && count < MaxCnt) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string::npos ? text.size() : nl;
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    // The dialog's writer ends lines with CR CR LF; hand-edited files may have CR LF or LF.
    // Every CR of the ending goes, and the path keeps its last character.
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] < '0' || line[0] > '9') continue;
    if (line.size() > kMaxLine) line.resize(kMaxLine);
    // An entry without a path would match every path (as a part of it) or every file of a
    // missing folder: it is refused, never silently put in force.
    if (line.size() <= kEntryPathOffset) {
      QVX_KLOG(
          "QVX_E51-002 ExclusionInfoRead[%d][%ld] : "
          "パス（アドレス）が空の行を読み飛ばしました。%s(%d) %s\r\n",
          FileName, line_no, line.c_str());
      continue;
    }
    char* slot = ExcInf[count];
    std::memcpy(slot, line.data(), line.size());
    slot[line.size()] = '\0';
    if (DateChkOf(reinterpret_cast<const ExclusionInfoSt*>(slot)) == -1) {
      if (NorCnt) *NorCnt = 0;
      return -1;
    }
    ++count;
  }
  if (NorCnt) *NorCnt = count;
  return 0;
}

int ExclusionDateChk(char* OutExcDate, const char* sYear, const char* sMon, const char* sDay,
                     const char* eYear, const char* eMon, const char* eDay) {
  if (!sYear || !sMon || !sDay || !eYear || !eMon || !eDay) return -1;
  const int sy = EntryDigits(sYear, 4), sm = EntryDigits(sMon, 2), sd = EntryDigits(sDay, 2);
  const int ey = EntryDigits(eYear, 4), em = EntryDigits(eMon, 2), ed = EntryDigits(eDay, 2);
  const long start = sy * 10000L + sm * 100L + sd;
  const long end = ey * 10000L + em * 100L + ed;
  if (start == 0 && end == 0) {
    if (OutExcDate) std::snprintf(OutExcDate, 18, "%s", "00000000-00000000");
    return 0;
  }
  if (OutExcDate) std::snprintf(OutExcDate, 18, "%4d%02d%02d-%4d%02d%02d", sy, sm, sd, ey, em, ed);
  const LocalTime now = platform().Now();
  const long today = now.year * 10000L + now.month * 100L + now.day;
  if (today < start) return today < end ? 1 : -1;
  return today > end ? 2 : 0;
}

int ExclusionInfoChk(const char* entry_text, const char* path, int Flg) {
  if (Level6()) QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : START\r\n");
  if (entry_text == nullptr || path == nullptr) return -1;
  const auto* e = reinterpret_cast<const ExclusionInfoSt*>(entry_text);
  const char want = Flg == 1 ? '0' : Flg == 2 ? '1' : '\0';
  if (e->KanshiJogaiInfoFlg != want || e->ValidFlg != '1') return 0;
  const char* entry_path = e->ExclusionFilePath;

  switch (e->MatchKind) {
    case '2': {
      bool hit = std::strstr(path, entry_path) != nullptr;
      if (Level6() && Flg == 2) {
        if (hit)
          QVX_KLOG(
              "QVX_D51-001 ExclusionInfoChk[%d][%ld] : > 除外対象 "
              "ExclusionInfo->ExclusionFilePath=%s\r\n",
              entry_path);
        else
          QVX_KLOG(
              "QVX_D51-001 ExclusionInfoChk[%d][%ld] : > 監視対象 "
              "ExclusionInfo->ExclusionFilePath=%s\r\n",
              entry_path);
      }
      return hit && DateChkOf(e) == 0 ? 1 : 0;
    }
    case '1': {
      std::string folder = path;
      if (Level6()) QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : Path=%s\r\n", path);
      if (!platform().IsDirectory(path)) {
        if (Level6())
          QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : ファイル Path=%s\r\n", path);
        folder = PathRemoveFileSpec(path);
      }
      if (Level6()) QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : 監視除外情報チェック\r\n");
      if (folder == entry_path && DateChkOf(e) == 0) {
        if (Level6()) {
          QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : 監視除外情報チェック 一致\r\n");
          QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : ディレクトリ監視は行わない\r\n");
        }
        return 1;
      }
      if (Level6())
        QVX_KLOG("QVX_D51-001 ExclusionInfoChk[%d][%ld] : 監視除外情報チェック 一致しない\r\n");
      return 0;
    }
    default:
      return PathMatchSpec(path, entry_path) && DateChkOf(e) == 0 ? 1 : -1;
  }
}

int QVX_ExclusionInfoChk(const char* sAccessFullPath, int) {
  if (Level6())
    QVX_KLOG("QVX_D51-001 QVX_ExclusionInfoChk[%d][%ld] : sAccessFullPath=%s\r\n", sAccessFullPath);
  std::lock_guard<std::mutex> lock(FilterTableLock());
  auto is_star = [](int i) {
    return std::strcmp(
               reinterpret_cast<const ExclusionInfoSt*>(ExclusionInfoData[i])->ExclusionFilePath,
               "*") == 0;
  };
  int verdict = 0;
  if (KnashiJyogaiBaseFlg == 0) {
    for (int i = 0; i < ExclusionInfoDataNo; ++i) {
      if (is_star(i)) continue;
      if (ExclusionInfoChk(ExclusionInfoData[i], sAccessFullPath, 1) == 1) {
        verdict = 10;
        break;
      }
    }
  } else {
    bool examined = false;
    bool surveyed = false;
    for (int i = 0; i < ExclusionInfoDataNo && !surveyed; ++i) {
      if (is_star(i)) continue;
      examined = true;
      if (ExclusionInfoChk(ExclusionInfoData[i], sAccessFullPath, 2) != 1) continue;
      surveyed = true;
      for (int j = i + 1; j < ExclusionInfoDataNo; ++j) {
        if (is_star(j)) continue;
        if (ExclusionInfoChk(ExclusionInfoData[j], sAccessFullPath, 1) == 1) {
          verdict = 10;
          break;
        }
      }
    }
    if (!surveyed && examined) verdict = 10;
  }
  if (verdict == 10 && Level6())
    QVX_KLOG("QVX_D51-001 QVX_ExclusionInfoChk[%d][%ld] : ExclusionInfoNonRcv 収集しない\r\n");
  return verdict;
}

std::string FilterFileProblem(const char* path) {
  if (platform().IsDirectory(path)) return "it is a folder";
  std::string text;
  if (!platform().ReadWholeFile(path, &text)) return "it cannot be opened for reading";
  return "an entry's period ends before it starts";
}

int QVX_ExclusionStartup(void* hWnd, const char* folder) {
  char* path = ExclusionInfoFilePath;
  std::snprintf(path, sizeof ExclusionInfoFilePath, "%s%c%s", folder, kPathSep, kExclusionFileName);
  // No file yet (a first start, or every entry deleted by hand) is an empty list, not a fault.
  const bool absent = !platform().FileExists(path);
  int r = 0;
  {
    std::lock_guard<std::mutex> lock(FilterTableLock());
    if (absent)
      ExclusionInfoDataNo = 0;
    else
      r = ExclusionInfoRead(path, &ExclusionInfoDataNo, kFilterEntries, ExclusionInfoData);
    if (r == -1) ExclusionInfoDataNo = 0;
    KnashiJyogaiBaseFlg = 0;
    for (int i = 0; i < ExclusionInfoDataNo; ++i) {
      const auto* e = reinterpret_cast<const ExclusionInfoSt*>(ExclusionInfoData[i]);
      if (std::strcmp(e->ExclusionFilePath, "*") != 0) continue;
      if (e->KanshiJogaiInfoFlg == '0') KnashiJyogaiBaseFlg = 1;
      if (e->KanshiJogaiInfoFlg == '1') KnashiJyogaiBaseFlg = 0;
    }
  }
  if (r == -1) {
    const std::string text = "The exclusion list " + std::string(path) +
                             " cannot be used: " + FilterFileProblem(path) +
                             ". No exclusion is in force.";
    ScMessageBox(hWnd, text.c_str(), "Quorvix Start-Up", kMbIconInformation);
    QVX_KLOG(
        "QVX_E02-005 QVX_Dlg_Proc[%d][%ld] : 監視監視ファイル読み込み失敗。NorInfoFilePath=%s\r\n",
        path);
  }
  return r;
}

}  // namespace qvx
