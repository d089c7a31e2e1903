// Two- and three-level character arrays over one contiguous block.
#pragma once

#include <cstddef>

namespace qvx {

// entries x strings x chars, every string zeroed. Returns nullptr when memory is short.
char*** mallocChar3D(size_t entries, size_t strings, size_t chars);
void freeChar3D(char*** p);
char** mallocChar2D(size_t strings, size_t chars);
void freeChar2D(char** p);

}  // namespace qvx
