// A full run of the tool on 6000 x 4000 unsigned 16-bit frames, with a bias
// and the corrected image, against reading the same three files and writing
// four outputs of the same size without processing them; and a run over 8
// lights, with one job and with two, writing each corrected light, against
// reading one light and writing one output.
#include <benchmark/benchmark.h>
#include <fitsio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "fits/fits_io.h"
#include "fits/plane_memory.h"
#include "fits/staged_files.h"
#include "tools/tenvora_match/demo_set.h"
#include "tools/tenvora_match/tool_main.h"

namespace {

constexpr int kBatchLights = 8;

struct Files {
  std::string dir, light, dark, bias, out;
  std::vector<std::string> lights;
  Files() {
    std::string pattern = "/tmp/tenvora-bench-XXXXXX";
    dir = mkdtemp(pattern.data());
    light = dir + "/light.fits";
    dark = dir + "/dark.fits";
    bias = dir + "/bias.fits";
    out = dir + "/out";
    mkdir(out.c_str(), 0777);
    DemoParams p;
    p.width = 6000;
    p.height = 4000;
    p.hot_count = 6000;
    p.star_count = 8000;
    const DemoSet set = make_demo_set(p);
    write_fits(light, set.light, {}, USHORT_IMG);
    write_fits(dark, set.dark, {}, USHORT_IMG);
    write_fits(bias, set.bias, {}, USHORT_IMG);
    for (int k = 1; k <= kBatchLights; ++k) {
      lights.push_back(dir + "/light_" + std::to_string(k) + ".fits");
      write_fits(lights.back(), set.light, {}, USHORT_IMG);
    }
  }
  ~Files() { std::system(("rm -rf '" + dir + "'").c_str()); }
};

const Files& files() {
  static const Files f;
  return f;
}

// Each run writes new files, as a night's run does, and starts with the
// files of the run before gone and the disk idle: replacing a file makes the
// file system write the new one out at once, and writing files back would
// take the processor from the run timed.
void settle(benchmark::State& state) {
  state.PauseTiming();
  std::system(("rm -f '" + files().out + "'/*").c_str());
  sync();
  state.ResumeTiming();
}

void full_run(benchmark::State& state) {
  const Files& f = files();
  for (auto _ : state) {
    settle(state);
    std::ostringstream out, err;
    const int status = tool_main({"--light", f.light, "--dark", f.dark, "--bias", f.bias,
                                  "--subtract", "--out-dir", f.out, "--overwrite"},
                                 out, err);
    if (status != 0) state.SkipWithError(err.str().c_str());
  }
}

void read_and_write_only(benchmark::State& state) {
  const Files& f = files();
  const char* names[] = {"glow.fits", "hot.fits", "matched.fits", "corrected.fits"};
  for (auto _ : state) {
    settle(state);
    const Frame light = read_fits(f.light);
    const Frame dark = read_fits(f.dark);
    const Frame bias = read_fits(f.bias);
    StagedFiles staged(f.out);
    const Frame* frames[] = {&light, &dark, &bias, &light};
    for (int k = 0; k < 4; ++k)
      staged.write(names[k], [&](const std::string& path) {
        write_fits(path, *frames[k], {text_key("OBJECT", names[k], "")});
      });
    staged.commit(true, {});
  }
}

void batch_run(benchmark::State& state) {
  const Files& f = files();
  const std::string jobs = std::to_string(state.range(0));
  std::vector<std::string> args = {"--dark", f.dark, "--bias",      f.bias,      "--subtract",
                                   "--jobs", jobs,   "--overwrite", "--out-dir", f.out};
  args.insert(args.end(), f.lights.begin(), f.lights.end());
  for (auto _ : state) {
    settle(state);
    std::ostringstream out, err;
    if (tool_main(args, out, err) != 0) state.SkipWithError(err.str().c_str());
  }
}

void one_light_read_and_write_only(benchmark::State& state) {
  const Files& f = files();
  for (auto _ : state) {
    settle(state);
    const Frame light = read_fits(f.light);
    StagedFiles staged(f.out);
    staged.write("light_corrected.fits", [&](const std::string& path) {
      write_fits(path, light, {text_key("OBJECT", "corrected", "")});
    });
    staged.commit(true, {});
  }
}

BENCHMARK(full_run)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(read_and_write_only)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(batch_run)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(one_light_read_and_write_only)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  // As the program does, unless the first argument is --fresh-planes.
  if (argc < 2 || std::string(argv[1]) != "--fresh-planes")
    keep_freed_planes();
  else
    --argc, ++argv;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
}
