#include "audit/open_files.h"

#include <cstring>
#include <iterator>
#include <utility>

namespace qvx {

OpenFile* OpenFiles::Find(const OpenFileKey& key) {
  const auto it = by_key_.find(key);
  return it == by_key_.end() ? nullptr : &*it->second;
}

OpenFile* OpenFiles::FindResumeKey(const IpAddress& server, const uint8_t* key) {
  for (auto it = files_.rbegin(); it != files_.rend(); ++it)
    if (it->has_resume_key && it->key.server == server &&
        std::memcmp(it->resume_key, key, sizeof it->resume_key) == 0)
      return &*it;
  return nullptr;
}

void OpenFiles::Erase(std::list<OpenFile>::iterator it) {
  by_key_.erase(it->key);
  files_.erase(it);
}

bool OpenFiles::Add(OpenFile file, OpenFile* evicted) {
  const auto same = by_key_.find(file.key);
  if (same != by_key_.end()) Erase(same->second);
  bool full = false;
  if (files_.size() >= kCapacity) {
    *evicted = std::move(files_.front());
    by_key_.erase(evicted->key);
    files_.pop_front();
    full = true;
  }
  files_.push_back(std::move(file));
  by_key_[files_.back().key] = std::prev(files_.end());
  return full;
}

bool OpenFiles::Take(const OpenFileKey& key, OpenFile* out) {
  const auto it = by_key_.find(key);
  if (it == by_key_.end()) return false;
  const auto at = it->second;
  *out = std::move(*at);
  by_key_.erase(it);
  files_.erase(at);
  return true;
}

bool OpenFiles::TakeOldest(OpenFile* out, const IpAddress& client, uint16_t port) {
  for (auto it = files_.begin(); it != files_.end(); ++it)
    if (port == 0 || (it->client == client && it->client_port == port)) {
      *out = std::move(*it);
      by_key_.erase(out->key);
      files_.erase(it);
      return true;
    }
  return false;
}

void OpenFiles::NoteOpen(const OpenFileKey& key) {
  recent_[recent_next_ % kRecent] = key;
  ++recent_next_;
}

void OpenFiles::NoteGranted(const OpenFileKey& key) {
  const uint64_t d = key.Hash();
  Grant& g = granted_[d];
  g.at = ++granted_next_;
  ++g.opens;
  granted_order_.emplace_back(d, g.at);
  while (granted_.size() > kGrantedCapacity && !granted_order_.empty()) {
    const auto [old, old_at] = granted_order_.front();
    granted_order_.pop_front();
    auto it = granted_.find(old);
    if (it != granted_.end() && it->second.at == old_at) granted_.erase(it);
  }
  // Closed handles leave stale places behind: the order is rebuilt from the live ones now and
  // then, so that it never outgrows twice the capacity.
  if (granted_order_.size() > 2 * kGrantedCapacity) {
    std::deque<std::pair<uint64_t, uint64_t>> live;
    for (const auto& e : granted_order_) {
      auto it = granted_.find(e.first);
      if (it != granted_.end() && it->second.at == e.second) live.push_back(e);
    }
    granted_order_.swap(live);
  }
}

bool OpenFiles::Granted(const OpenFileKey& key) const { return granted_.count(key.Hash()) != 0; }

void OpenFiles::Forget(const OpenFileKey& key) {
  auto it = granted_.find(key.Hash());
  if (it != granted_.end() && --it->second.opens == 0) granted_.erase(it);
}

void OpenFiles::Clear() {
  files_.clear();
  by_key_.clear();
  recent_next_ = 0;
  granted_.clear();
  granted_order_.clear();
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
