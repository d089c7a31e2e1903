#include "base/alloc.h"

#include <cstdlib>

namespace qvx {

char*** mallocChar3D(size_t entries, size_t strings, size_t chars) {
  if (entries == 0 || strings == 0 || chars == 0) return nullptr;
  char*** top = static_cast<char***>(std::calloc(entries, sizeof(char**)));
  char** mid = static_cast<char**>(std::calloc(entries * strings, sizeof(char*)));
  char* block = static_cast<char*>(std::calloc(entries * strings, chars));
  if (!top || !mid || !block) {
    std::free(top);
    std::free(mid);
    std::free(block);
    return nullptr;
  }
  for (size_t e = 0; e < entries; ++e) {
    top[e] = mid + e * strings;
    for (size_t s = 0; s < strings; ++s) top[e][s] = block + (e * strings + s) * chars;
  }
  return top;
}

void freeChar3D(char*** p) {
  if (!p) return;
  std::free(p[0][0]);
  std::free(p[0]);
  std::free(p);
}

char** mallocChar2D(size_t strings, size_t chars) {
  if (strings == 0 || chars == 0) return nullptr;
  char** top = static_cast<char**>(std::calloc(strings, sizeof(char*)));
  char* block = static_cast<char*>(std::calloc(strings, chars));
  if (!top || !block) {
    std::free(top);
    std::free(block);
    return nullptr;
  }
  for (size_t s = 0; s < strings; ++s) top[s] = block + s * chars;
  return top;
}

void freeChar2D(char** p) {
  if (!p) return;
  std::free(p[0]);
  std::free(p);
}

}  // namespace qvx
