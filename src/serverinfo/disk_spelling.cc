#include "serverinfo/disk_spelling.h"

#include <vector>

#include "platform/os_rules.h"

namespace qvx {

namespace {

// Names compare as Samba's default does for the letters of ASCII; other bytes as they are.
std::string Folded(const std::string& s) {
  std::string out = s;
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

}  // namespace

const DiskSpelling::Listing& DiskSpelling::ListingOf(Platform& os, const std::string& folder,
                                                     int64_t now_us) {
  auto it = folders_.find(folder);
  if (it != folders_.end() && now_us - it->second.read_us < kListingUs &&
      now_us >= it->second.read_us)
    return it->second;
  // A folder that cannot be read (a replay where the share's folders do not exist) is kept as
  // empty for the listing's life too: it is not tried again for every access.
  std::vector<std::string> names;
  if (!os.ListDirectory(folder, &names)) names.clear();
  if (it == folders_.end()) {
    if (folders_.size() >= kFoldersKept) folders_.clear();
    it = folders_.emplace(folder, Listing{}).first;
  }
  Listing& l = it->second;
  l.read_us = now_us;
  l.by_folded.clear();
  for (const std::string& n : names) l.by_folded.emplace(Folded(n), n);
  return l;
}

void DiskSpelling::Correct(Platform& os, const std::string& root, std::string* path,
                           int64_t now_us) {
  if (os::kWindows || root.empty() || path->size() <= root.size() ||
      path->compare(0, root.size(), root) != 0 ||
      (root.back() != kPathSep && (*path)[root.size()] != kPathSep))
    return;
  // A named stream is the file's: the file's name is what the disk spells.
  const size_t last_sep = path->rfind(kPathSep);
  const size_t colon = path->find(':', last_sep == std::string::npos ? 0 : last_sep);
  const std::string stream = colon == std::string::npos ? "" : path->substr(colon);
  const std::string file = path->substr(0, colon);
  if (file.size() <= root.size() || os.FileExists(file)) return;

  std::string done = root;
  if (!done.empty() && done.back() == kPathSep) done.pop_back();
  size_t at = root.size();
  while (at < file.size()) {
    while (at < file.size() && file[at] == kPathSep) ++at;
    if (at >= file.size()) break;
    size_t end = file.find(kPathSep, at);
    if (end == std::string::npos) end = file.size();
    const std::string part = file.substr(at, end - at);
    std::string next = done + kPathSep + part;
    if (!os.FileExists(next)) {
      // No listing, or no entry of that name in any case: the rest stays as it was.
      const Listing& l = ListingOf(os, done, now_us);
      const auto hit = l.by_folded.find(Folded(part));
      if (hit == l.by_folded.end()) {
        *path = done + kPathSep + file.substr(at) + stream;
        return;
      }
      next = done + kPathSep + hit->second;
    }
    done = next;
    at = end;
  }
  *path = done + stream;
}

}  // namespace qvx
