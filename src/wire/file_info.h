// The file-information structures a client sets on a file, read from captured bytes: the
// security descriptor of a permission change (as SDDL) and the basic information of an
// attribute or time-stamp change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvx::wire {

// SecurityInformation flags: the parts of a security descriptor a request sets.
inline constexpr uint32_t kOwnerSecurity = 0x1;
inline constexpr uint32_t kGroupSecurity = 0x2;
inline constexpr uint32_t kDaclSecurity = 0x4;
inline constexpr uint32_t kSaclSecurity = 0x8;
inline constexpr uint32_t kLabelSecurity = 0x10;

// The SDDL text of a self-relative security descriptor (size bytes at sd): owner, group, DACL
// and SACL, SIDs in their S-1-… form and masks in hex ("O:S-1-5-32-544D:(A;OICI;0x1f01ff;;;
// S-1-1-0)"). Empty when the bytes are no security descriptor; a part whose offset or size
// leaves the buffer is left out.
std::string SecurityDescriptorSddl(const uint8_t* sd, size_t size);

// FileBasicInformation (SMB2 class 4, SMB1 SMB_SET_FILE_BASIC_INFO and its pass-through level):
// four FILETIMEs and the attributes. A time of 0 or all ones leaves that time alone; attributes
// of 0 leave them alone.
struct FileBasicInfo {
  uint64_t creation = 0;
  uint64_t last_access = 0;
  uint64_t last_write = 0;
  uint64_t change = 0;
  uint32_t attributes = 0;
};
// False when fewer than 36 bytes are given.
bool ReadFileBasicInfo(const uint8_t* p, size_t size, FileBasicInfo* out);

// A FILETIME (100 ns since 1601) from seconds since 1970, and back.
inline constexpr uint64_t kFiletimeUnixEpoch = 116444736000000000ull;
inline uint64_t FiletimeOfUnix(int64_t seconds) {
  return seconds < 0 ? 0 : static_cast<uint64_t>(seconds) * 10000000ull + kFiletimeUnixEpoch;
}

}  // namespace qvx::wire
