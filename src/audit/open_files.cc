#include "audit/open_files.h"

#include <cstring>
#include <utility>

namespace qvx {

OpenFile* OpenFiles::Find(const OpenFileKey& key) {
  // Newest first: a handle is mostly used soon after its open.
  for (auto it = files_.rbegin(); it != files_.rend(); ++it)
    if (it->key == key) return &*it;
  return nullptr;
}

OpenFile* OpenFiles::FindResumeKey(const IpAddress& server, const uint8_t* key) {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it)
    if (it->has_resume_key && it->key.server == server &&
        std::memcmp(it->resume_key, key, sizeof it->resume_key) == 0)
      return &*it;
  return nullptr;
}

bool OpenFiles::Add(OpenFile file, OpenFile* evicted) {
  for (auto it = files_.begin(); it != files_.end(); ++it)
    if (it->key == file.key) {
      files_.erase(it);
      break;
    }
  bool full = false;
  if (files_.size() >= kCapacity) {
    *evicted = std::move(files_.front());
    files_.pop_front();
    full = true;
  }
  files_.push_back(std::move(file));
  return full;
}

bool OpenFiles::Take(const OpenFileKey& key, OpenFile* out) {
  for (auto it = files_.begin(); it != files_.end(); ++it)
    if (it->key == key) {
      *out = std::move(*it);
      files_.erase(it);
      return true;
    }
  return false;
}

bool OpenFiles::TakeOldest(OpenFile* out, const IpAddress& client, uint16_t port) {
  for (auto it = files_.begin(); it != files_.end(); ++it)
    if (port == 0 || (it->client == client && it->client_port == port)) {
      *out = std::move(*it);
      files_.erase(it);
      return true;
    }
  return false;
}

void OpenFiles::NoteOpen(const OpenFileKey& key) {
  recent_[recent_next_ % kRecent] = key;
  ++recent_next_;
}

void OpenFiles::Clear() {
  files_.clear();
  recent_next_ = 0;
}

bool OpenFiles::Last(const OpenFileKey& key, OpenFileKey* out) const {
  const size_t n = recent_next_ < kRecent ? recent_next_ : kRecent;
  for (size_t i = 1; i <= n; ++i) {
    const OpenFileKey& k = recent_[(recent_next_ - i) % kRecent];
    if (k.server == key.server && k.client == key.client && k.client_port == key.client_port &&
        k.version == key.version && k.session == key.session) {
      *out = k;
      return true;
    }
  }
  return false;
}

}  // namespace qvx
