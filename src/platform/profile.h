// INI ("profile") text handling with the semantics of the Win32 private-profile calls:
// section and key names compare without case, blanks around names and values are dropped,
// a value in matching quotes loses them, and integers read like GetPrivateProfileIntA. Lines may
// end with CR LF, LF or CR alone, and a UTF-8 byte-order mark may start the text.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>

namespace qvx {

// The value of key in section, or nothing when the section or key is absent.
std::optional<std::string> ProfileLookup(const std::string& text, const std::string& section,
                                         const std::string& key);

// A profile text parsed once: each lookup then costs what ProfileLookup costs for a tiny text,
// however large the file (a profile is read once per load, not once per key).
class ProfileIndex {
 public:
  explicit ProfileIndex(const std::string& text);
  // As ProfileLookup on the text.
  std::optional<std::string> Lookup(const std::string& section, const std::string& key) const;

 private:
  // Lower-case section, a newline, lower-case key -> the first value in the text.
  std::unordered_map<std::string, std::string> values_;
};

// Whether the text has a "[section]" line.
bool ProfileHasSection(const std::string& text, const std::string& section);

// Integer conversion of a profile value: leading blanks, an optional sign, decimal digits or a
// "0x" hexadecimal prefix; conversion stops at the first other character. A value that does not
// start with a number yields 0. An empty value yields def, as a missing key does.
int ProfileValueToInt(const std::string& value, int def);

// The whole of a profile value as a number, in the forms ProfileValueToInt reads (an optional
// sign, then decimal digits or "0x" and hexadecimal digits), with nothing before or after it.
// False for anything else, an empty value included. A value past the range of int is still a
// number: *out then holds a value past that range (held to about 2^40), never a wrapped one.
bool ProfileValueIsNumber(const std::string& value, long long* out);

// Returns text with key of section set to value; a missing section is appended, a missing key is
// added at the end of its section. Line endings follow the text's own (CR LF for a new text).
std::string ProfileStore(const std::string& text, const std::string& section,
                         const std::string& key, const std::string& value);

}  // namespace qvx
