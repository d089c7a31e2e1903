#include "platform/stdio_file.h"

#include <cerrno>
#include <cstring>

namespace qvx {

std::unique_ptr<StdioFile> StdioFile::Open(const std::string& path, const char* mode,
                                           std::string* why) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), mode);
  if (f == nullptr) {
    if (why) *why = errno != 0 ? std::strerror(errno) : "the system gave no reason";
    return nullptr;
  }
  return std::unique_ptr<StdioFile>(new StdioFile(f));
}

StdioFile::~StdioFile() { std::fclose(f_); }

void StdioFile::Unbuffered() { std::setvbuf(f_, nullptr, _IONBF, 0); }

size_t StdioFile::Read(void* buf, size_t size) { return std::fread(buf, 1, size, f_); }

bool StdioFile::WriteAndFlush(const void* data, size_t size) {
  const bool whole = std::fwrite(data, 1, size, f_) == size;
  return std::fflush(f_) == 0 && whole;
}

bool StdioFile::Failed() const { return std::ferror(f_) != 0; }

}  // namespace qvx
