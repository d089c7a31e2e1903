// What a change to a file's permissions, attributes or time stamps did, in words for the SMB Info
// column of its line.
#pragma once

#include <cstdint>
#include <string>

#include "wire/file_info.h"

namespace qvx {

// The parts a permission change sets, by its SecurityInformation flags: "owner", "group",
// "DACL", "SACL", "label", joined by "+" (the texts go into comma-separated records).
std::string QVX_SecurityInfoText(uint32_t security_information);

// What a basic-information set changes, its parts joined by "; ": the attributes set
// ("attributes read-only+hidden") and each time stamp set ("last write time
// 2001-01-01T00:00:00Z"), a time more than an hour before
// the request (now_unix, seconds since 1970) marked "in the past". Empty when it changes nothing
// (every time 0 or all ones, attributes 0).
std::string QVX_BasicInfoText(const wire::FileBasicInfo& b, int64_t now_unix);

}  // namespace qvx
