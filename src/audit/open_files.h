// The files a client holds open, so that what the server does to them after the open is told:
// the first write to a file whose open was logged as a read, a rename, a delete that takes effect
// when the handle closes. An open that may still delete or rename its file (delete-on-close, or
// delete access) keeps its line back until the close, so that one line says what really happened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

#include "base/ip_address.h"
#include "platform/platform.h"

namespace qvx {

// An access line's facts apart from its operation, taken when the open was handled, so that a
// line decided later names the same tree, user, client and path.
struct AccessFacts {
  LocalTime now;
  uint32_t tid = 0;
  std::string login;
  std::string client;  // address texts of the tree
  std::string server;
  std::string client_mac;
  std::string server_mac;
  std::string cmd;
  std::string info;
  std::string routine;
  std::string path;  // local path
  uint64_t size = 0;
  std::string acl;  // a permission change's new security descriptor (SDDL), else empty
};

// A handle: SMB2 by the server's session and file id (a handle may travel over several
// connections of one session), SMB1 by the connection and FID.
struct OpenFileKey {
  IpAddress server;
  IpAddress client;
  uint16_t client_port = 0;  // SMB1 only
  uint8_t version = 0;
  uint64_t session = 0;  // SMB2 SessionId; SMB1 0
  uint64_t id[2] = {0, 0};
  bool operator==(const OpenFileKey& o) const {
    return server == o.server && client == o.client && client_port == o.client_port &&
           version == o.version && session == o.session && id[0] == o.id[0] && id[1] == o.id[1];
  }
  uint64_t Hash() const {
    uint64_t h = server.Hash() * 0x9E3779B97F4A7C15ull ^ client.Hash();
    h = h * 31 + (uint64_t{client_port} << 8 | version);
    h = h * 0x100000001B3ull ^ session;
    h = h * 0x100000001B3ull ^ id[0];
    return h * 0x100000001B3ull ^ id[1];
  }
};

struct OpenFile {
  OpenFileKey key;
  IpAddress client;  // the connection the open came on
  uint16_t client_port = 0;
  AccessFacts facts;
  int verdict = 0;      // what the open did (New, Wt, Rd)
  bool parked = false;  // the open's line waits for the close
  bool delete_pending = false;
  bool written = false;  // a write was seen (its Wt line written, or the parked verdict is Wt)
  bool renamed = false;  // a ReNm line was written for it
  bool copied = false;   // a Copy line was written for it as a copy's destination
  // The key the server gave it as the source of server-side copies.
  bool has_resume_key = false;
  uint8_t resume_key[24] = {};
  // Its open was never seen (opened before capture began): the first read, write or rename says
  // what it did, a delete disposition still set at the close gives "Del", and a close of one that
  // said nothing else gives "Rd".
  bool adopted = false;
  bool told = false;  // a line of the adopted handle was written
};

class OpenFiles {
 public:
  // Beyond this many handles the oldest is given up (its parked line written by the caller).
  static constexpr size_t kCapacity = 16384;

  OpenFile* Find(const OpenFileKey& key);
  // The handle of the server's connection server whose resume key is key (24 bytes).
  OpenFile* FindResumeKey(const IpAddress& server, const uint8_t* key);
  // Adds a handle; an existing one of the same key is replaced. When the table is full the
  // oldest handle is moved to *evicted and true returned.
  bool Add(OpenFile file, OpenFile* evicted);
  // Removes the handle of key into *out; false when it is not held.
  bool Take(const OpenFileKey& key, OpenFile* out);
  // Removes the oldest handle (of the connection client:port when port is not 0) into *out.
  bool TakeOldest(OpenFile* out, const IpAddress& client = {}, uint16_t port = 0);
  // Every open the server granted, tracked or not, is noted: a related request of a compound
  // chain names the handle of the open before it with all ones.
  void NoteOpen(const OpenFileKey& key);
  // The newest noted open of key's session (SMB2) or connection (SMB1): into *out, false when
  // none.
  bool Last(const OpenFileKey& key, OpenFileKey* out) const;
  // Every open the server granted, tracked or not, from its answer until its close: a request on
  // a handle neither granted nor held names one the run never saw opened. A handle granted twice
  // (an id the server gave again while its close was still being decided) is forgotten at its
  // second close. Beyond kGrantedCapacity the oldest is forgotten.
  void NoteGranted(const OpenFileKey& key);
  bool Granted(const OpenFileKey& key) const;
  void Forget(const OpenFileKey& key);
  static constexpr size_t kGrantedCapacity = 65536;
  size_t Size() const { return files_.size(); }
  void Clear();

 private:
  struct KeyHash {
    size_t operator()(const OpenFileKey& k) const { return static_cast<size_t>(k.Hash()); }
  };
  void Erase(std::list<OpenFile>::iterator it);
  std::list<OpenFile> files_;  // oldest first
  // Every handle by its key: a busy server holds thousands open at once.
  std::unordered_map<OpenFileKey, std::list<OpenFile>::iterator, KeyHash> by_key_;
  // Digests of the granted handles, each with its place in the order they were granted and how
  // many opens granted it.
  struct Grant {
    uint64_t at = 0;
    uint32_t opens = 0;
  };
  std::unordered_map<uint64_t, Grant> granted_;
  std::deque<std::pair<uint64_t, uint64_t>> granted_order_;  // oldest first; stale ones skipped
  uint64_t granted_next_ = 0;
  static constexpr size_t kRecent = 64;
  OpenFileKey recent_[kRecent];
  size_t recent_next_ = 0;
};

}  // namespace qvx
