#include "wire/file_info.h"

#include <cstdio>

#include "wire/le.h"

namespace qvx::wire {

namespace {

// A SID at at (S-1-<authority>-<sub>…); false when it leaves the buffer.
bool SidText(const uint8_t* p, size_t size, size_t at, std::string* out) {
  if (!Fits(size, at, 8)) return false;
  const unsigned subs = p[at + 1];
  if (p[at] != 1 || subs > 15 || !Fits(size, at + 8, 4u * subs)) return false;
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = authority << 8 | p[at + i];
  char part[32];
  std::snprintf(part, sizeof part, "S-1-%llu", static_cast<unsigned long long>(authority));
  out->append(part);
  for (unsigned i = 0; i < subs; ++i) {
    std::snprintf(part, sizeof part, "-%u", static_cast<unsigned>(LoadLe32(p + at + 8 + 4 * i)));
    out->append(part);
  }
  return true;
}

void AceFlagsText(uint8_t flags, std::string* out) {
  static const struct {
    uint8_t bit;
    const char* text;
  } kFlags[] = {{0x01, "OI"}, {0x02, "CI"}, {0x04, "NP"}, {0x08, "IO"},
                {0x10, "ID"}, {0x40, "SA"}, {0x80, "FA"}};
  for (const auto& f : kFlags)
    if (flags & f.bit) out->append(f.text);
}

// The ACEs of the ACL at at, each "(type;flags;mask;;;sid)"; false when the ACL header leaves
// the buffer. An ACE that leaves it ends the list.
bool AclText(const uint8_t* p, size_t size, size_t at, std::string* out) {
  if (!Fits(size, at, 8)) return false;
  const size_t acl_size = LoadLe16(p + at + 2);
  const unsigned count = LoadLe16(p + at + 4);
  const size_t end = Fits(size, at, acl_size) ? at + acl_size : size;
  size_t ace = at + 8;
  for (unsigned i = 0; i < count; ++i) {
    if (!Fits(end, ace, 8)) break;
    const uint8_t type = p[ace];
    const size_t ace_size = LoadLe16(p + ace + 2);
    if (ace_size < 8 || !Fits(end, ace, ace_size)) break;
    std::string text = "(";
    switch (type) {
      case 0:
        text += "A";
        break;
      case 1:
        text += "D";
        break;
      case 2:
        text += "AU";
        break;
      case 3:
        text += "AL";
        break;
      default: {
        char t[8];
        std::snprintf(t, sizeof t, "0x%x", type);
        text += t;
      }
    }
    text += ';';
    AceFlagsText(p[ace + 1], &text);
    char mask[16];
    std::snprintf(mask, sizeof mask, ";0x%x;;;", static_cast<unsigned>(LoadLe32(p + ace + 4)));
    text += mask;
    // The plain ACE types carry the SID after the mask; object ACEs are told by type and mask.
    if (type <= 3 && !SidText(p, ace + ace_size, ace + 8, &text)) break;
    text += ')';
    out->append(text);
    ace += ace_size;
  }
  return true;
}

}  // namespace

std::string SecurityDescriptorSddl(const uint8_t* sd, size_t size) {
  if (!Fits(size, 0, 20) || sd[0] != 1) return {};
  const uint16_t control = LoadLe16(sd + 2);
  constexpr uint16_t kDaclPresent = 0x0004, kSaclPresent = 0x0010, kSelfRelative = 0x8000;
  constexpr uint16_t kDaclAutoInherited = 0x0400, kSaclAutoInherited = 0x0800;
  constexpr uint16_t kDaclProtected = 0x1000, kSaclProtected = 0x2000;
  if ((control & kSelfRelative) == 0) return {};
  const uint32_t owner = LoadLe32(sd + 4), group = LoadLe32(sd + 8);
  const uint32_t sacl = LoadLe32(sd + 12), dacl = LoadLe32(sd + 16);
  std::string out;
  std::string part;
  if (owner != 0 && SidText(sd, size, owner, &part)) out.append("O:").append(part);
  part.clear();
  if (group != 0 && SidText(sd, size, group, &part)) out.append("G:").append(part);
  auto acl = [&](const char* tag, bool present, uint32_t at, bool prot, bool auto_inh) {
    if (!present) return;
    std::string text = tag;
    if (prot) text += 'P';
    if (auto_inh) text += "AI";
    // A present ACL without a body is the null ACL: no control at all.
    if (at == 0) {
      text += "NO_ACCESS_CONTROL";
      out.append(text);
      return;
    }
    if (AclText(sd, size, at, &text)) out.append(text);
  };
  acl("D:", (control & kDaclPresent) != 0, dacl, (control & kDaclProtected) != 0,
      (control & kDaclAutoInherited) != 0);
  acl("S:", (control & kSaclPresent) != 0, sacl, (control & kSaclProtected) != 0,
      (control & kSaclAutoInherited) != 0);
  return out;
}

bool ReadFileBasicInfo(const uint8_t* p, size_t size, FileBasicInfo* out) {
  if (size < 36) return false;
  out->creation = LoadLe64(p);
  out->last_access = LoadLe64(p + 8);
  out->last_write = LoadLe64(p + 16);
  out->change = LoadLe64(p + 24);
  out->attributes = LoadLe32(p + 32);
  return true;
}

}  // namespace qvx::wire
