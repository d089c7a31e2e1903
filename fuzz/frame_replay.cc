// The frame fuzz target without libFuzzer: feeds the frames of the given capture files and the
// inputs of the given files or folders (a folder's files in name order) through it, one after
// the other and with the program's state kept, as a fuzzing run does. `make test` runs it over
// the regression corpus; --seeds DIR writes each frame of the capture files to DIR as a seed.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "connector/qvx_wpcap_con.h"
#include "fuzz/frame_fuzz.h"

namespace {

// The frames of a capture file as fuzz inputs (each with its link type's selector byte first);
// false when it is not one.
bool CaptureFrames(const std::string& path, std::vector<std::vector<unsigned char>>* frames) {
  qvx::QvxPcapFileReader reader;
  char err[qvx::kQvxErrBufSize] = {};
  if (!reader.Open(path.c_str(), err)) return false;
  const unsigned char* d;
  uint32_t n;
  int64_t sec;
  long usec;
  while (reader.Next(&d, &n, &sec, &usec, err) == 1) {
    std::vector<unsigned char> input = {qvx::FrameFuzzSelector(reader.LinkType())};
    input.insert(input.end(), d, d + n);
    frames->push_back(std::move(input));
  }
  return true;
}

std::vector<std::string> Inputs(const std::string& arg) {
  std::vector<std::string> out;
  if (std::filesystem::is_directory(arg)) {
    // Hidden files (the folder's placeholder) are no inputs.
    for (const auto& e : std::filesystem::directory_iterator(arg))
      if (e.is_regular_file() && e.path().filename().string()[0] != '.')
        out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
  } else {
    out.push_back(arg);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string seeds;
  size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seeds" && i + 1 < argc) {
      seeds = argv[++i];
      std::filesystem::create_directories(seeds);
      continue;
    }
    for (const std::string& path : Inputs(a)) {
      std::vector<std::vector<unsigned char>> frames;
      if (!seeds.empty()) {
        if (!CaptureFrames(path, &frames)) {
          std::fprintf(stderr, "frame replay: %s is not a capture file\n", path.c_str());
          return 1;
        }
        const std::string stem = std::filesystem::path(path).stem().string();
        for (size_t k = 0; k < frames.size(); ++k) {
          char name[64];
          std::snprintf(name, sizeof name, "/%s-%05zu", stem.c_str(), k);
          std::ofstream(seeds + name, std::ios::binary)
              .write(reinterpret_cast<const char*>(frames[k].data()),
                     static_cast<std::streamsize>(frames[k].size()));
        }
        inputs += frames.size();
        continue;
      }
      if (!CaptureFrames(path, &frames)) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
          std::fprintf(stderr, "frame replay: cannot read %s\n", path.c_str());
          return 1;
        }
        frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      }
      for (const auto& f : frames) qvx::FrameFuzzInput(f.data(), f.size());
      inputs += frames.size();
    }
  }
  std::printf("frame replay: %zu inputs\n", inputs);
  // The program stays up: the process ends here without its shutdown, as a fuzzing run does.
  std::exit(0);
}
