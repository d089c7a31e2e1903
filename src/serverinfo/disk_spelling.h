// The spelling a path has on this server's disk. Samba and Windows match names in any case, so a
// client that asks for "DOCS\SECRET.TXT" may touch "docs/secret.txt"; the record must name the
// file as it is, or a search for its real path misses it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/platform.h"

namespace qvx {

class DiskSpelling {
 public:
  // A folder's listing is read again after this much capture time.
  static constexpr int64_t kListingUs = 1000000;
  static constexpr size_t kFoldersKept = 256;

  // Rewrites the part of *path below root (the share's folder, a prefix of *path) as its
  // components are spelled on disk. Only a path that does not exist as spelled is looked at: one
  // listing read per folder where a component is missed, kept for kListingUs. From a component that
  // no entry matches in any case on, the path stays as it was; so does a named
  // stream's suffix (":stream"). Case-insensitive file systems (Windows) never miss.
  void Correct(Platform& os, const std::string& root, std::string* path, int64_t now_us);
  void Clear() { folders_.clear(); }

 private:
  struct Listing {
    int64_t read_us = 0;
    std::unordered_map<std::string, std::string> by_folded;  // folded name -> name on disk
  };
  // A folder that cannot be read lists nothing.
  const Listing& ListingOf(Platform& os, const std::string& folder, int64_t now_us);
  std::unordered_map<std::string, Listing> folders_;
};

}  // namespace qvx
