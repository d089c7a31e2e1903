// What a replay cannot do without: read the capture file and write each access-log line with a
// system call of its own. (The file system is no longer asked about each accessed object: the
// server's answers in the capture say what it needs.) Times exactly that and nothing else (no
// decoding, no tables, no list), for the busy-server table: the lower bound of a replay that
// keeps one write per line.
//
//   access_floor CAPTURE ACCESS_LOG OUT_FILE
//
// ACCESS_LOG is the log a replay of CAPTURE wrote: its lines are written again to OUT_FILE.
// Prints the seconds taken.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s CAPTURE ACCESS_LOG OUT_FILE\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read\n", argv[2]);
    return 1;
  }
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l + "\n");

  const auto start = std::chrono::steady_clock::now();
  std::FILE* cap = std::fopen(argv[1], "rb");
  if (cap == nullptr) {
    std::fprintf(stderr, "%s: cannot read\n", argv[1]);
    return 1;
  }
  static char window[1 << 16];
  while (std::fread(window, 1, sizeof window, cap) == sizeof window) {
  }
  std::fclose(cap);
  const int out = ::open(argv[3], O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (out < 0) {
    std::fprintf(stderr, "%s: cannot write\n", argv[3]);
    return 1;
  }
  for (const std::string& line : lines)
    if (::write(out, line.data(), line.size()) < 0) return 1;
  ::close(out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f\n", seconds);
  std::fprintf(stderr, "%zu lines written\n", lines.size());
  return 0;
}
