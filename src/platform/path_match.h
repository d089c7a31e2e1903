// Path helpers with the behaviour of the shell's path functions, the same on every build.
#pragma once

#include <string>

namespace qvx {

// PathMatchSpecA: "*" and "?" wildcards, no case, several patterns separated by ";".
bool PathMatchSpec(const std::string& path, const std::string& spec);

// PathRemoveFileSpecA: the path without its last component and without a trailing separator
// (a root such as "C:\" or "/" keeps its separator).
std::string PathRemoveFileSpec(const std::string& path);

}  // namespace qvx
