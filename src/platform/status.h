// The outcome of a platform call with its cause: what kind of failure it was, the OS error number
// and the path it concerned. Callers decide by the kind; messages name all three.
#pragma once

#include <string>
#include <utility>

namespace qvx {

class Status {
 public:
  enum class Kind { kOk, kNotFound, kDenied, kIoError };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string path, int os_error) {
    return Status(Kind::kNotFound, os_error, std::move(path));
  }
  static Status Denied(std::string path, int os_error) {
    return Status(Kind::kDenied, os_error, std::move(path));
  }
  static Status IoError(std::string path, int os_error) {
    return Status(Kind::kIoError, os_error, std::move(path));
  }

  bool ok() const { return kind_ == Kind::kOk; }
  bool IsNotFound() const { return kind_ == Kind::kNotFound; }
  bool IsDenied() const { return kind_ == Kind::kDenied; }
  Kind kind() const { return kind_; }
  int os_error() const { return os_error_; }
  const std::string& path() const { return path_; }

  // "OK", or "<path>: <the system's reason> (error <n>)".
  std::string ToString() const;

 private:
  Status(Kind kind, int os_error, std::string path)
      : kind_(kind), os_error_(os_error), path_(std::move(path)) {}
  Kind kind_ = Kind::kOk;
  int os_error_ = 0;
  std::string path_;
};

// The system's text for an OS error number (errno, or a Win32 error code on Windows).
std::string OsErrorText(int os_error);
// The status of a call on path that failed with os_error: a name that is not there (or could not
// be) is not found,
// a refusal for rights is denied, anything else an I/O error.
Status StatusOfOsError(std::string path, int os_error);

}  // namespace qvx
