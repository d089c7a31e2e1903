#include "capture/held_requests.h"

#include <cstring>
#include <utility>

#include "wire/le.h"

namespace qvx {

namespace {}  // namespace

bool QVX_ExchangeKeyOf(const ConnectionEnds& ends, const unsigned char* d, unsigned long len,
                       long base, int version, ExchangeKey* key) {
  if (base < 0) return false;
  const unsigned long at = static_cast<unsigned long>(base);
  const unsigned long header = version == 2 ? 64 : 32;
  if (at > len || len - at < header) return false;
  const unsigned char* smb = d + at;
  ExchangeKey k;
  k.ends = ends;
  k.version = version;
  // SMB2: MessageId at 24. SMB1: MID at 30 with PIDLow at 26 beside it, and the command: the
  // commands of one AndX chain share their MID, and each answer names its own command.
  k.message = version == 2 ? wire::LoadLe64(smb + 24)
                           : (uint64_t{smb[4]} << 32 | uint64_t{wire::LoadLe16(smb + 26)} << 16 |
                              wire::LoadLe16(smb + 30));
  *key = k;
  return true;
}

bool QVX_RequestAwaitsAnswer(int version, int command, bool toward, int sub) {
  if (!toward) return false;
  if (version == 1) {
    switch (command) {
      case 0x00:  // CREATE_DIRECTORY
      case 0x01:  // DELETE_DIRECTORY
      case 0x02:  // OPEN
      case 0x03:  // CREATE
      case 0x04:  // CLOSE
      case 0x06:  // DELETE
      case 0x07:  // RENAME
      case 0x09:  // SET_INFORMATION
      case 0x0A:  // READ
      case 0x0B:  // WRITE
      case 0x0E:  // CREATE_TEMPORARY
      case 0x0F:  // CREATE_NEW
      case 0x22:  // SET_INFORMATION2
      case 0x29:  // COPY
      case 0x2A:  // MOVE
      case 0x2C:  // WRITE_AND_CLOSE
      case 0x2D:  // OPEN_ANDX
      case 0x2E:  // READ_ANDX
      case 0x2F:  // WRITE_ANDX
      case 0x32:  // TRANSACTION2: opens, path queries, settings and searches
      case 0xA2:  // NT_CREATE_ANDX
      case 0xA5:  // NT_RENAME
        return true;
      case 0xA0:  // NT_TRANSACT: CREATE and SET_SECURITY_DESC; a NOTIFY_CHANGE waits for long
        return sub == 1 || sub == 3;
      default:
        return false;
    }
  }
  // CREATE, CLOSE, READ, WRITE, IOCTL (server-side copies and their keys), SET_INFO.
  return command == 5 || command == 6 || command == 8 || command == 9 || command == 0x0B ||
         command == 0x11;
}

bool QVX_InterimAnswer(int version, const unsigned char* h, unsigned long available) {
  if (version != 2 || available < 64) return false;
  return wire::LoadLe32(h + 8) == kStatusPendingValue;
}

void HeldRequests::Add(int64_t time_us, bool awaits, const ExchangeKey& key, const void* head,
                       size_t head_size, const void* body, size_t body_size, int sub,
                       uint64_t reads_wanted) {
  Frame& f = frames_.emplace_back();
  f.time_us = time_us;
  f.awaits = awaits;
  f.answered = false;
  f.reads_wanted = reads_wanted;
  f.key = key;
  f.sub = sub;
  if (reads_wanted > 0) ++waiting_server_;
  if (!spare_.empty()) {
    f.bytes.swap(spare_.back());
    spare_.pop_back();
  }
  f.bytes.resize(head_size + body_size);
  if (head_size) std::memcpy(f.bytes.data(), head, head_size);
  if (body_size) std::memcpy(f.bytes.data() + head_size, body, body_size);
  bytes_ += f.bytes.size();
  if (awaits) ++waiting_;
}

bool HeldRequests::Waiting(const ExchangeKey& key, int* sub) const {
  size_t left = waiting_;
  for (auto it = frames_.begin(); it != frames_.end() && left > 0; ++it) {
    if (!it->awaits || it->answered) continue;
    --left;
    if (it->key == key) {
      *sub = it->sub;
      return true;
    }
  }
  return false;
}

bool HeldRequests::Answer(const ExchangeKey& key, const AnswerFacts& facts) {
  if (waiting_ == 0) return false;
  bool any = false;
  size_t left = waiting_;  // unanswered requests still to look at
  for (auto it = frames_.begin(); it != frames_.end() && left > 0; ++it) {
    Frame& f = *it;
    if (!f.awaits || f.answered) continue;
    --left;
    if (f.key == key) {
      f.answered = true;
      f.answer = facts;
      --waiting_;
      any = true;
    }
  }
  return any;
}

bool HeldRequests::TakeDue(int64_t now_us, bool force, Frame* out, uint64_t server_reads) {
  if (frames_.empty()) return false;
  Frame& f = frames_.front();
  const bool over = frames_.size() > kHoldMaxFrames || bytes_ > kHoldMaxBytes;
  // A clock that went back (a set clock, frames out of order) ends the wait too, rather than
  // holding everything behind until it catches up again.
  const bool waiting = now_us >= f.time_us && now_us - f.time_us < kHoldUs;
  const bool unanswered = f.awaits && !f.answered;
  if (!force && !over && waiting && (unanswered || server_reads < f.reads_wanted)) return false;
  if (unanswered) --waiting_;
  if (f.reads_wanted > 0) --waiting_server_;
  bytes_ -= f.bytes.size();
  out->time_us = f.time_us;
  out->awaits = f.awaits;
  out->answered = f.answered;
  out->key = f.key;
  out->sub = f.sub;
  out->answer = std::move(f.answer);
  out->reads_wanted = f.reads_wanted;
  out->bytes.swap(f.bytes);
  // What out held before is kept for a later frame.
  if (f.bytes.capacity() > 0 && spare_.size() < 64) spare_.push_back(std::move(f.bytes));
  frames_.pop_front();
  return true;
}

int64_t HeldRequests::NextDeadline() const {
  if (frames_.empty()) return -1;
  const Frame& f = frames_.front();
  if ((!f.awaits || f.answered) && f.reads_wanted == 0) return f.time_us;
  return f.time_us + kHoldUs;
}

void HeldRequests::Clear() {
  frames_.clear();
  bytes_ = 0;
  waiting_ = 0;
  waiting_server_ = 0;
}

}  // namespace qvx
