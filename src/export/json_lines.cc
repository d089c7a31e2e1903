#include "export/json_lines.h"

#include "accesslog/access_log.h"
#include "base/dbglog.h"
#include "export/json_event.h"

namespace qvx {

bool JsonLinesSink::Open(const std::string& start_stamp) {
  if (!start_stamp.empty() && platform().FileExists(path_)) FollowSwitch(start_stamp);
  std::lock_guard<std::mutex> g(lock_);
  if (!platform().MakeSureDirectoryPathExists(path_)) return false;
  file_ = platform().OpenWritable(path_, OpenMode::kAppend);
  return file_ != nullptr;
}

void JsonLinesSink::Reopen() {
  std::lock_guard<std::mutex> g(lock_);
  file_.reset();
  platform().MakeSureDirectoryPathExists(path_);
  file_ = platform().OpenWritable(path_, OpenMode::kAppend);
}

bool JsonLinesSink::FollowSwitch(const std::string& stamp) {
  std::lock_guard<std::mutex> g(lock_);
  const std::string dated = QVX_DatedName(path_, stamp);
  file_.reset();
  bool ok = !platform().FileExists(dated) && platform().RenameFile(path_, dated);
  if (!ok)
    QVX_KLOG(
        "QVX_E61-002 JsonLinesSink[%d][%ld] : JSON Lines file not switched to %s: %s goes on\r\n",
        dated.c_str(), path_.c_str());
  file_ = platform().OpenWritable(path_, OpenMode::kAppend);
  return ok;
}

void JsonLinesSink::Write(const AccessEvent& e) {
  if (!e.to_records) return;
  std::string line = QVX_EventJson(e, host_, version_);
  line.push_back('\n');
  std::lock_guard<std::mutex> g(lock_);
  // A file that could not be opened is tried again with each line, like the access log.
  if (!file_) file_ = platform().OpenWritable(path_, OpenMode::kAppend);
  if (file_ && file_->Write(line.data(), line.size(), false)) return;
  ++lost_;
  QVX_KLOG("QVX_E61-001 JsonLinesSink[%d][%ld] : JSON Lines record lost: %s path=%.*s\r\n",
           path_.c_str(), static_cast<int>(e.path.size()), e.path.data());
}

void JsonLinesSink::Flush() {
  std::lock_guard<std::mutex> g(lock_);
  if (file_) file_->Flush();
}

}  // namespace qvx
