// A file through the C library's stream functions: the capture files a replay reads and the
// access log's C-library writer (LogFileSelect=2). Kept here so that no file above the platform
// layer opens a file itself.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace qvx {

class StdioFile {
 public:
  // mode as fopen's ("rb", "ab"). nullptr when the file cannot be opened; *why (when given) then
  // names the system's reason.
  static std::unique_ptr<StdioFile> Open(const std::string& path, const char* mode,
                                         std::string* why = nullptr);
  ~StdioFile();
  StdioFile(const StdioFile&) = delete;
  StdioFile& operator=(const StdioFile&) = delete;

  // No stream buffer: reads and writes go to the file directly.
  void Unbuffered();
  // Up to size bytes; fewer at the end of the file or on a read error.
  size_t Read(void* buf, size_t size);
  // Writes size bytes and hands them to the system; false when not all of them went.
  bool WriteAndFlush(const void* data, size_t size);
  // The stream's error state: a write or read failed since it was opened.
  bool Failed() const;

 private:
  explicit StdioFile(std::FILE* f) : f_(f) {}
  std::FILE* f_;
};

}  // namespace qvx
