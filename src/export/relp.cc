#include "export/relp.h"

namespace qvx {

namespace {
// A decimal number of 1..9 digits (transaction numbers and lengths).
bool Digits(std::string_view s, uint64_t* value) {
  if (s.empty() || s.size() > 9) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = v;
  return true;
}
}  // namespace

std::string QVX_RelpFrame(uint32_t txnr, std::string_view command, std::string_view data) {
  std::string f = std::to_string(txnr);
  f.append(" ").append(command).append(" ").append(std::to_string(data.size()));
  if (!data.empty()) f.append(" ").append(data);
  f.push_back('\n');
  return f;
}

std::string QVX_RelpOpenOffers() {
  return "relp_version=0\nrelp_software=quorvix\ncommands=syslog";
}

int RelpReader::Next(RelpFrame* out) {
  // Header: TXNR SP COMMAND SP DATALEN, then SP DATA (DATALEN > 0) or the trailer LF.
  const size_t sp1 = buf_.find(' ');
  if (sp1 == std::string::npos) return buf_.size() > 9 ? -1 : 0;
  const size_t sp2 = buf_.find(' ', sp1 + 1);
  if (sp2 == std::string::npos) return buf_.size() - sp1 > 33 ? -1 : 0;
  size_t end = sp2 + 1;
  while (end < buf_.size() && buf_[end] >= '0' && buf_[end] <= '9') ++end;
  if (end == buf_.size()) return end - sp2 > 10 ? -1 : 0;
  uint64_t txnr, len;
  if (!Digits(std::string_view(buf_).substr(0, sp1), &txnr) ||
      !Digits(std::string_view(buf_).substr(sp2 + 1, end - sp2 - 1), &len) || sp2 == sp1 + 1 ||
      sp2 - sp1 - 1 > 32)
    return -1;
  size_t data_at = end;
  if (len > 0) {
    if (buf_[end] != ' ') return -1;
    data_at = end + 1;
  }
  if (buf_.size() < data_at + len + 1) return 0;
  if (buf_[data_at + len] != '\n') return -1;
  out->txnr = static_cast<uint32_t>(txnr);
  out->command = buf_.substr(sp1 + 1, sp2 - sp1 - 1);
  out->data = buf_.substr(data_at, len);
  buf_.erase(0, data_at + len + 1);
  return 1;
}

}  // namespace qvx
