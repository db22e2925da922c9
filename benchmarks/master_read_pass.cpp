// tenvora-master's reading alone: every frame read strip by strip in the
// order and strip height a run of tenvora-master reads them, nothing
// combined, nothing written. benchmarks/master_vs_peers.sh times it against
// the runs.
//   master_read_pass FRAME...
#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

#include "combining/combine_strips.h"
#include "fits/fits_io.h"
#include "fits/frame_list.h"

int main(int argc, char** argv) {
  try {
    const std::vector<std::string> paths =
        expand_frames(std::vector<std::string>(argv + 1, argv + argc), {},
                      {"tenvora-master", "tenvora-match"}, "BIAS/DARK");
    const auto start = std::chrono::steady_clock::now();
    std::vector<FitsStrips> frames;
    for (const std::string& path : paths) frames.emplace_back(path);
    const int32_t width = frames[0].width(), height = frames[0].height();
    const int32_t rows = strip_rows_for(width, frames.size());
    std::vector<std::vector<float>> strips(frames.size(),
                                           std::vector<float>(static_cast<size_t>(width) * rows));
    double checksum = 0.0;
    for (int32_t first = 0; first < height; first += rows)
      for (size_t f = 0; f < frames.size(); ++f) {
        frames[f].read_rows(first, std::min(rows, height - first), strips[f].data());
        checksum += strips[f][0];
      }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f s to read %zu frames of %d x %d (checksum %g)\n", seconds, frames.size(),
                width, height, checksum);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "master_read_pass: %s\n", e.what());
    return 2;
  }
}
