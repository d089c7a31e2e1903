// What a replay cannot do without: read the capture file, ask the file system once for the facts
// of each accessed object, and write each access-log line with a system call of its own. Times
// exactly that and nothing else (no decoding, no tables, no list), for the busy-server table: the
// lower bound of a replay that keeps one file-facts query per access and one write per line.
//
//   access_floor CAPTURE ACCESS_LOG OUT_FILE
//
// ACCESS_LOG is the log a replay of CAPTURE wrote: its lines are written again to OUT_FILE, and
// the path of each access line (the field after the twelfth comma) is looked up with statx, as
// the replay looked it up. Prints the seconds taken.
#include <fcntl.h>
#include <sys/stat.h>
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
  struct Line {
    std::string text;
    std::string path;  // empty unless an access line
  };
  std::vector<Line> lines;
  for (std::string l; std::getline(in, l);) {
    Line line;
    line.text = l + "\n";
    if (l.find("],access,") != std::string::npos) {
      size_t at = 0;
      for (int commas = 0; commas < 12 && at != std::string::npos; ++commas)
        at = l.find(',', at == 0 ? 0 : at + 1);
      if (at != std::string::npos) {
        line.path = l.substr(at + 1);
        if (!line.path.empty() && line.path.back() == '\r') line.path.pop_back();
      }
    }
    lines.push_back(std::move(line));
  }

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
  size_t looked = 0;
  for (const Line& line : lines) {
    if (!line.path.empty()) {
      struct statx facts;
      ::statx(AT_FDCWD, line.path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &facts);
      ++looked;
    }
    if (::write(out, line.text.data(), line.text.size()) < 0) return 1;
  }
  ::close(out);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.6f\n", seconds);
  std::fprintf(stderr, "%zu lines written, %zu objects looked up\n", lines.size(), looked);
  return 0;
}
