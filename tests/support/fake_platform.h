// The test platform: a real temporary folder stands for the folder of the executable, while the
// clock, sleeps and message boxes are under the test's control.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace qvx::test {

struct Box {
  std::string text;
  std::string caption;
  unsigned style;
};

class FakePlatform : public PlatformWrapper {
 public:
  // Installs itself as platform(); the destructor puts the previous one back and removes the
  // folder.
  FakePlatform();
  ~FakePlatform() override;

  LocalTime Now() override { return now_; }
  void SleepMs(int ms) override { slept_ms_ += ms; }
  std::string ExecutablePath() override { return exe_path_; }
  int ShowMessageBox(void* owner, const std::string& text, const std::string& caption,
                     unsigned style) override;

  void SetNow(int year, int month, int day, int hour, int minute, int second);
  void SetExecutablePath(const std::string& p) { exe_path_ = p; }
  void SetBoxAnswer(int answer) { box_answer_ = answer; }

  // The executable's folder, with a trailing separator.
  const std::string& dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string Contents(const std::string& path);
  std::vector<std::string> Lines(const std::string& path);  // split at CR LF
  void WriteText(const std::string& path, const std::string& text);

  const std::vector<Box>& boxes() const { return boxes_; }
  long slept_ms() const { return slept_ms_; }

 private:
  Platform* previous_;
  std::string dir_;
  std::string exe_path_;
  LocalTime now_;
  long slept_ms_ = 0;
  int box_answer_ = kIdOk;
  std::vector<Box> boxes_;
};

// Puts the program's globals back to their load-time state (options, log paths and handles).
void ResetProgramState();

}  // namespace qvx::test
