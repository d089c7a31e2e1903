// Requests whose handling waits for the server: a file's time stamps are worth reading only once
// the server has finished the open. Instead of pausing the capture thread, such a request is
// held, with every frame that arrives behind it, and decided when the server's answer to it
// passes (same TCP connection and MessageId / MID) or when kHoldUs of capture time have passed,
// whichever comes first. Frames leave in the order they arrived, so handlers see exactly the
// sequence they would have seen had the thread waited.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "audit/answer.h"
#include "base/ip_address.h"

namespace qvx {

// How long a request waits for its answer, in capture time. The answer decides what the line
// says, so a server that is slow for a moment must not turn its answers into guesses; an answer
// that never comes (lost frames) delays the lines behind it by this much at most.
inline constexpr int64_t kHoldUs = 1000000;
// A burst never holds more than this many frames or bytes: the oldest is then decided early.
inline constexpr size_t kHoldMaxFrames = 4096;
inline constexpr size_t kHoldMaxBytes = 16u << 20;

// One request and its answer: the TCP connection seen from the client, and the message number
// (SMB2 MessageId; SMB1 MID with PIDLow).
struct ExchangeKey {
  ConnectionEnds ends;
  int version = 0;
  uint64_t message = 0;
  bool operator==(const ExchangeKey& o) const {
    return ends == o.ends && version == o.version && message == o.message;
  }
};

// The key of an SMB message at base in the len bytes of a message buffer, on the connection
// ends. False when the buffer is too short for the message's header.
bool QVX_ExchangeKeyOf(const ConnectionEnds& ends, const unsigned char* d, unsigned long len,
                       long base, int version, ExchangeKey* key);

// Requests that are held until answered, since the answer tells what they did: opens, closes,
// reads, writes and set-info (SMB2 CREATE, CLOSE, READ, WRITE, SET_INFO), and SMB1
// NT_CREATE_ANDX and the legacy opens (OPEN, CREATE, CREATE_NEW, CREATE_TEMPORARY, OPEN_ANDX),
// CLOSE, READ, READ_ANDX, WRITE, WRITE_ANDX, WRITE_AND_CLOSE, DELETE, CREATE_DIRECTORY,
// DELETE_DIRECTORY, RENAME, NT_RENAME,
// COPY, MOVE, SET_INFORMATION, SET_INFORMATION2, TRANSACTION2 (opens, settings, path queries and
// searches) and the NT_TRANSACT creates and security settings (sub, its Function; its other
// functions, change notifications among them, are not held). Requests that may wait on the
// server for long (change notifications, locks) are never held.
bool QVX_RequestAwaitsAnswer(int version, int command, bool toward, int sub = -1);

// An SMB2 answer that only says "still working" (STATUS_PENDING) does not end the wait.
bool QVX_InterimAnswer(int version, const unsigned char* smb_header, unsigned long available);

// The frames waiting behind held requests, oldest first.
class HeldRequests {
 public:
  struct Frame {
    std::vector<unsigned char> bytes;  // whatever the caller needs to handle it later
    int64_t time_us = 0;               // capture time
    bool awaits = false;               // a request held for its answer
    bool answered = false;
    // Also held until the server's list of open files has been read this many times (0: not).
    uint64_t reads_wanted = 0;
    ExchangeKey key;
    int sub = -1;        // an SMB1 transaction's subcommand: what its answer holds
    AnswerFacts answer;  // what the answer said, once answered
  };

  bool Empty() const { return frames_.empty(); }
  size_t Size() const { return frames_.size(); }

  // Appends a frame, its bytes the two pieces one after the other; with awaits, it is held until
  // Answer(key), and with reads_wanted until that many lists of the server's open files were
  // read, or in either case until kHoldUs after time_us. An SMB1 transaction keeps its
  // subcommand sub, which its answer does not repeat.
  void Add(int64_t time_us, bool awaits, const ExchangeKey& key, const void* head, size_t head_size,
           const void* body, size_t body_size, int sub = -1, uint64_t reads_wanted = 0);
  // True when an unanswered request with this key is held; *sub is its subcommand.
  bool Waiting(const ExchangeKey& key, int* sub) const;
  // An answer passed: every held request with this key may go, and keeps its facts. False when
  // none waited for it.
  bool Answer(const ExchangeKey& key, const AnswerFacts& facts = {});
  // Takes the oldest frame if it may go at capture time now_us, the server's list of open files
  // read server_reads times (or at once with force, when the burst limits are exceeded, or when
  // now_us lies before the request). False when nothing may go yet.
  bool TakeDue(int64_t now_us, bool force, Frame* out, uint64_t server_reads = UINT64_MAX);
  // Frames held for a new list of the server's open files.
  bool WaitForServer() const { return waiting_server_ > 0; }
  // Capture time at which the oldest frame may go at the latest; -1 when nothing waits.
  int64_t NextDeadline() const;
  // Forgets every frame without deciding it.
  void Clear();

 private:
  std::deque<Frame> frames_;
  // Byte buffers of frames already taken, kept for the next ones: a busy server holds a frame
  // behind almost every open.
  std::vector<std::vector<unsigned char>> spare_;
  size_t bytes_ = 0;
  size_t waiting_ = 0;  // held requests not yet answered
  size_t waiting_server_ = 0;
};

}  // namespace qvx
