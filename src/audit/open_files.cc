#include "audit/open_files.h"

#include <utility>

namespace qvx {

OpenFile* OpenFiles::Find(const OpenFileKey& key) {
  // Newest first: a handle is mostly used soon after its open.
  for (auto it = files_.rbegin(); it != files_.rend(); ++it)
    if (it->key == key) return &*it;
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

namespace {

uint64_t Mix(uint64_t h, uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  return h;
}

uint64_t Digest(const OpenFileKey& k) {
  uint64_t h = Mix(k.server.Hash(), k.client.Hash());
  h = Mix(h, uint64_t{k.client_port} << 8 | k.version);
  h = Mix(h, k.session);
  h = Mix(h, k.id[0]);
  return Mix(h, k.id[1]);
}

}  // namespace

void OpenFiles::NoteGranted(const OpenFileKey& key) {
  const uint64_t d = Digest(key);
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

bool OpenFiles::Granted(const OpenFileKey& key) const { return granted_.count(Digest(key)) != 0; }

void OpenFiles::Forget(const OpenFileKey& key) {
  auto it = granted_.find(Digest(key));
  if (it != granted_.end() && --it->second.opens == 0) granted_.erase(it);
}

void OpenFiles::Clear() {
  files_.clear();
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
