#include "app/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "app/list_sink.h"
#include "base/dbglog.h"
#include "capture/capture_loop.h"

namespace qvx {
namespace {

// Picks the path of one diagnostic log: "QVXkernel<sep><stem><second>.log" beside the executable,
// or "<stem>.log" beside it when the folder cannot be made. Returns false when even the
// executable's folder cannot be had.
bool ChooseLogPath(const char* stem, int second, char* out) {
  char name[128];
  std::snprintf(name, sizeof name, "QVXkernel%c%s%d.log", kPathSep, stem, second);
  if (!MakeIniFileName(name, out, kLogPathSize)) return false;
  if (platform().MakeSureDirectoryPathExists(out)) return true;
  std::snprintf(name, sizeof name, "%s.log", stem);
  return MakeIniFileName(name, out, kLogPathSize) != 0;
}

}  // namespace

bool QVX_StartUp(int argc, const char* const* argv) {
  LocalTime now = platform().Now();
  ChangeDayValue = now.day;
  QVX_CaptureDroppedReset();
  QVX_InstallStandardSinks();

  bool kernel_ok;
  if (argc >= 2 && platform().MakeSureDirectoryPathExists(argv[1]) &&
      std::strlen(argv[1]) < kLogPathSize) {
    std::snprintf(szLogfileName, kLogPathSize, "%s", argv[1]);
    kernel_ok = true;
  } else if (argc >= 2) {
    kernel_ok = MakeIniFileName("QVXkernel.log", szLogfileName, kLogPathSize) != 0;
  } else {
    kernel_ok = ChooseLogPath("QVXkernel", now.second, szLogfileName);
  }
  if (!kernel_ok) {
    platform().ShowMessageBox(nullptr, "Start-UP Folder Make Error", "Quorvix", kMbIconInformation);
    return false;
  }
  if (!ChooseLogPath("QVXdbg", now.second, szLogfileName1)) {
    platform().ShowMessageBox(nullptr, "Degub Folder Make Error", "QVXdbg", kMbIconInformation);
    return false;
  }
  if (!ChooseLogPath("QVXevent", now.second, szLogfileName2)) {
    platform().ShowMessageBox(nullptr, "Degub Folder Make Error", "QVXevent", kMbIconInformation);
    return false;
  }

  szCmdLineOpt[0] = '\0';
  if (argc >= 1 && argv[0] != nullptr)
    std::snprintf(szCmdLineOpt, sizeof szCmdLineOpt, "%s", argv[0]);
  DbgLogCatchCrashes();
  return true;
}

}  // namespace qvx
