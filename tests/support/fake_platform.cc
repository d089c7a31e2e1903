#include "support/fake_platform.h"

#include <atomic>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/dbglog.h"
#include "app/option.h"
#include "capture/smb_command_table.h"

namespace qvx::test {

namespace fs = std::filesystem;

FakePlatform::FakePlatform() : PlatformWrapper(&NativePlatform()) {
  static std::atomic<int> counter{0};
  // <chrono> is kept out: its C++20 unit suffixes do not convert to the Shift-JIS build charset.
  static const unsigned seed = std::random_device{}();
  auto stamp =
      std::to_string(static_cast<long long>(std::time(nullptr))) + "-" + std::to_string(seed);
  fs::path d = fs::temp_directory_path() / ("qvx-test-" + stamp + "-" + std::to_string(counter++));
  fs::create_directories(d);
  dir_ = d.string() + kPathSep;
  exe_path_ = dir_ + "Quorvix.exe";
  SetNow(2026, 12, 9, 10, 20, 7);
  previous_ = SetPlatform(this);
}

FakePlatform::~FakePlatform() {
  ResetProgramState();
  SetPlatform(previous_);
  std::error_code ec;
  fs::remove_all(fs::path(dir_), ec);
}

int FakePlatform::ShowMessageBox(void*, const std::string& text, const std::string& caption,
                                 unsigned style) {
  boxes_.push_back({text, caption, style});
  return box_answer_;
}

void FakePlatform::SetNow(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  now_ = LocalTimeFromTimeT(static_cast<int64_t>(std::mktime(&tm)));
}

std::string FakePlatform::Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> FakePlatform::Lines(const std::string& path) {
  std::string text = Contents(path);
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t e = text.find("\r\n", pos);
    if (e == std::string::npos) {
      lines.push_back(text.substr(pos));
      break;
    }
    lines.push_back(text.substr(pos, e - pos));
    pos = e + 2;
  }
  return lines;
}

void FakePlatform::WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

namespace {
// The command tables as loaded, before any start-up override patched them.
struct PristineTables {
  PristineTables() {
    std::memcpy(smb1, Smb_Command, sizeof smb1);
    std::memcpy(smb2, Smb2_Command, sizeof smb2);
  }
  Smb_Command_St smb1[kSmbCommandRows];
  Smb2_Command_St smb2[kSmb2CommandRows];
};
const PristineTables g_pristine;
}  // namespace

void ResetProgramState() {
  std::memcpy(Smb_Command, g_pristine.smb1, sizeof g_pristine.smb1);
  std::memcpy(Smb2_Command, g_pristine.smb2, sizeof g_pristine.smb2);
  DbgLogCloseAll();
  OptionSetDefaults(&OptionInfo);
  // At load time every option is 0: the debug log is written until the configuration is read.
  std::memset(&OptionInfo, 0, sizeof OptionInfo);
  szLogfileName[0] = szLogfileName1[0] = szLogfileName2[0] = '\0';
  szCmdLineOpt[0] = '\0';
  nCmdLineOptSc = 0;
  ChangeDayValue = 0;
}

}  // namespace qvx::test
