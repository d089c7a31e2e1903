// The access events as a JSON Lines file beside the access log: one JSON object per line (LF),
// written for every event the access log would write. Reopened under its name on SIGHUP, as the
// access log (logrotate moves both); switched with the access log by its own rotation
// (LogFileChangeFlg): Quorvix.jsonl becomes Quorvix261209102007.jsonl with the stamp of the
// log's dated name, and a new one is started.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "base/access_event.h"
#include "platform/platform.h"

namespace qvx {

class JsonLinesSink : public EventSink {
 public:
  JsonLinesSink(std::string path, std::string host, std::string version)
      : path_(std::move(path)), host_(std::move(host)), version_(std::move(version)) {}
  // Opens the file (its folders made); false when it cannot be had. start_stamp: the access log
  // was renamed to its dated name with this stamp at this start (StartLogChg=1), and a file
  // left from before is renamed likewise first.
  bool Open(const std::string& start_stamp = std::string());
  // Opens the file again under its name, after logrotate moved it.
  void Reopen();
  // The access log was switched to its dated name with stamp: this file follows. False when its
  // dated name is taken or the rename fails (reported; lines go on into the file as it is).
  bool FollowSwitch(const std::string& stamp);
  // One line, with no flush of its own: the log writer flushes a batch (as LogFileSelect says).
  void Write(const AccessEvent& e) override;
  void Flush() override;
  // Lines that could not be written (each also named in the kernel log).
  uint64_t lost() const { return lost_; }
  const std::string& path() const { return path_; }

 private:
  std::mutex lock_;
  std::string path_, host_, version_;
  std::unique_ptr<WritableFile> file_;
  uint64_t lost_ = 0;
};

}  // namespace qvx
