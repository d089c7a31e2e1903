// Request names as the server resolves them: "." and ".." components are taken within the share,
// so that a name can never point the program at a file outside the share.
#pragma once

#include <cstddef>

namespace qvx {

// What the path field of a line starts with when its request name would leave the share; the
// name follows as the client sent it.
inline constexpr const char kOutsideShareMark[] = "[outside share] ";

// Resolves the "." and ".." components of a request name (either separator) into out (size
// bytes, cut inside it). A name without such components is copied unchanged. False when a ".."
// would climb above the share's root: out then holds the name as sent.
bool QVX_ResolveRequestName(const char* name, char* out, size_t size);

}  // namespace qvx
