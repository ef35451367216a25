// Decoding and encoding an A4 300-dpi page in the formats a scan is kept in:
// black and white as TIFF Group 4, grey and colour as JPEG and PNG, and PCX.
// In the same run libtiff's tiffcp and libjpeg's djpeg/cjpeg work on the same
// files, and so does ours: this program started again for each run in a mode
// that works from file to file as the tool does (--decode, --encode, --g4), so
// both sides pay for a fresh process and the first touch of their memory. Both
// run on one CPU. --load decodes into memory only, as the program opens a
// file; the tool's figure beside it is the same djpeg run as for --decode. At the end: the median times, the ratios ours / theirs (the
// goal is at most 1.2: the work is the library's, our overhead should be small)
// and the mean absolute difference per sample between the two outputs.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/imaging/BenchPnm.h"
#include "imaging/EnBfm.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnPngGr.h"
#include "imaging/EnTifGr.h"

extern char** environ;

namespace {

constexpr int kW = 2480, kH = 3508;

uint32_t Noise(uint32_t& s) {
  s = s * 1664525u + 1013904223u;
  return s >> 24;
}

bool TextAt(int x, int y) {
  return (y / 12) % 4 != 3 && y > 200 && y < kH - 200 && x > 180 && x < kW - 180 &&
         (x / 7 + y / 12) % 5 == 0;
}

template <typename G>
G& Page(int format) {
  static std::map<int, G> pages;
  G& img = pages[format];
  if (!img.IsEmpty()) return img;
  img.NewImage(kW, kH, format, nullptr, 300, 300);
  uint32_t s = 99;
  for (int y = 0; y < kH; ++y) {
    uint8_t* row = img.ScanLine(y);
    for (int x = 0; x < kW; ++x) {
      const int v = TextAt(x, y) ? 40 : 225 + int(Noise(s) % 24) - (x + y) % 97 / 3;
      if (format == ifBlackWhite) {
        if (v < 128) row[x / 8] |= uint8_t(0x80 >> (x % 8));
      } else if (format == ifGray256) {
        row[x] = uint8_t(v);
      } else {
        row[3 * x] = uint8_t(v);
        row[3 * x + 1] = uint8_t(std::min(255.0, v * (0.8 + 0.2 * std::sin(x * 0.004))));
        row[3 * x + 2] = uint8_t(std::min(255.0, v * (0.9 + 0.1 * std::cos(y * 0.003))));
      }
    }
  }
  return img;
}

std::string Dir() {
  static std::string dir = [] {
    auto d = std::filesystem::temp_directory_path() / ("tarvo-bench-codecs-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}
std::string PathOf(const std::string& name) { return Dir() + "/" + name; }

// The inputs on disk: our files for the tools to read, PNM for cjpeg.
void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  Page<TTiffGraphic>(ifBlackWhite).SaveToFile(PathOf("bw.tif"));
  for (int f : {ifGray256, ifTrueColor}) {
    const std::string name = f == ifGray256 ? "grey" : "colour";
    Page<TJpegGraphic>(f).SaveToFile(PathOf(name + ".jpg"));
    bench::WritePnm(Page<TJpegGraphic>(f), PathOf(name + ".pnm"));
  }
}

bool Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// "@name" stands for the file of that name in the working folder, "@self"
// for this program.
std::vector<std::string> Resolve(std::vector<std::string> args) {
  for (auto& a : args)
    if (a == "@self")
      a = std::filesystem::read_symlink("/proc/self/exe").string();
    else if (a.rfind("@", 0) == 0)
      a = PathOf(a.substr(1));
  return args;
}

// A program run afresh each iteration: ours in its file-to-file mode or a tool.
void Process(benchmark::State& state, std::vector<std::string> args) {
  Prepare();
  args = Resolve(std::move(args));
  if (!Spawn(args)) return state.SkipWithError(("cannot run " + args[0]).c_str());
  for (auto _ : state) Spawn(args);
}

// Ours in this process, once warm: no process start, the page already mapped.
template <typename G>
void Decode(benchmark::State& state, const std::string& file) {
  Prepare();
  for (auto _ : state) {
    G img;
    img.LoadFromFile(PathOf(file));
    benchmark::DoNotOptimize(img.Bits());
  }
}

template <typename G>
void Encode(benchmark::State& state, int format, const std::string& file) {
  Prepare();
  G& img = Page<G>(format);
  for (auto _ : state) img.SaveToFile(PathOf(file));
}

template <typename G>
void InMemory(benchmark::State& state, int format, bool decode) {
  G& img = Page<G>(format);
  TMemoryStream file;
  img.SaveToStream(file);
  for (auto _ : state) {
    if (decode) {
      G back;
      file.SetPosition(0);
      back.LoadFromStream(file);
      benchmark::DoNotOptimize(back.Bits());
    } else {
      TMemoryStream out;
      img.SaveToStream(out);
      benchmark::DoNotOptimize(out.Memory());
    }
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(img.ImageSize()));
}

// Ours and a tool on the same input; OUT in the arguments is the output, a
// file of each side's own (the bit bucket for both when timedToNull).
struct Pair {
  std::string name;
  std::vector<std::string> ours, tool;
  bool timedToNull;  // decoded pages are not written out while timed, on both sides
};

std::vector<Pair> Pairs() {
  std::vector<Pair> pairs = {{"tiff_g4", {"@self", "--g4", "@bw.tif", "OUT.tif"},
                              {"tiffcp", "-c", "g4", "@bw.tif", "OUT.tif"}, false}};
  for (const std::string k : {"grey", "colour"}) {
    // The page decoded into memory as the program keeps it, nothing written.
    pairs.push_back({"jpeg_" + k + "_load", {"@self", "--load", "@" + k + ".jpg"},
                     {"djpeg", "-outfile", "OUT.pnm", "@" + k + ".jpg"}, true});
    pairs.push_back({"jpeg_" + k + "_decode", {"@self", "--decode", "@" + k + ".jpg", "OUT.pnm"},
                     {"djpeg", "-outfile", "OUT.pnm", "@" + k + ".jpg"}, true});
    pairs.push_back({"jpeg_" + k + "_encode", {"@self", "--encode", "@" + k + ".pnm", "OUT.jpg"},
                     {"cjpeg", "-quality", "80", "-outfile", "OUT.jpg", "@" + k + ".pnm"}, false});
  }
  return pairs;
}

std::vector<std::string> WithOutput(std::vector<std::string> args, const std::string& out) {
  for (auto& a : args)
    if (a.rfind("OUT.", 0) == 0) a = out.empty() ? "/dev/null" : "@" + out + a.substr(3);
  return args;
}

// Any of the outputs, as samples.
bool LoadSamples(const std::string& path, bench::Samples& s) {
  try {
    std::unique_ptr<TDibGraphic> img;
    if (path.ends_with(".pnm")) {
      img = std::make_unique<TDibGraphic>();
      if (!bench::ReadPnm(path, *img)) return false;
    } else {
      if (path.ends_with(".jpg"))
        img = std::make_unique<TJpegGraphic>();
      else
        img = std::make_unique<TTiffGraphic>();
      img->LoadFromFile(path);
    }
    s = bench::SamplesOf(*img);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Both sides once more, each to its own file, then compared.
std::string OutputDifference(const Pair& p) {
  if (p.ours.back().rfind("OUT.", 0) != 0) return "as decode";
  const std::string ext = p.ours.back().substr(p.ours.back().find('.'));
  const std::vector<std::string> ours = Resolve(WithOutput(p.ours, p.name + "-ours"));
  const std::vector<std::string> tool = Resolve(WithOutput(p.tool, p.name + "-tool"));
  bench::Samples a, b;
  if (!Spawn(ours) || !Spawn(tool)) return "not run";
  if (!LoadSamples(PathOf(p.name + "-ours" + ext), a) ||
      !LoadSamples(PathOf(p.name + "-tool" + ext), b))
    return "unreadable";
  const double d = bench::MeanAbsDiff(a, b);
  if (d < 0) return "sizes differ";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", d);
  return text;
}

// Per benchmark the median of its repetitions: the reported median when only
// aggregates are reported, otherwise that of the runs seen.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred) continue;
      const std::string& name = r.run_name.function_name;
      if (r.run_type == Run::RT_Aggregate) {
        if (r.aggregate_name == "median") reported_[name] = r.GetAdjustedRealTime();
      } else {
        runs_[name].push_back(r.GetAdjustedRealTime());
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Milliseconds, or a negative number when the benchmark did not run.
  double Median(const std::string& name) const {
    if (auto it = reported_.find(name); it != reported_.end()) return it->second;
    auto it = runs_.find(name);
    if (it == runs_.end() || it->second.empty()) return -1;
    std::vector<double> t = it->second;
    std::sort(t.begin(), t.end());
    const size_t n = t.size();
    return n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
  }

 private:
  std::map<std::string, double> reported_;
  std::map<std::string, std::vector<double>> runs_;
};

// Ours and the tools on one CPU (the one we are on), unless already pinned:
// the children inherit it.
int PinToOneCpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) return c;
  const int cpu = sched_getcpu();
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

// The file-to-file modes, each as its tool works.
int RunMode(const std::string& mode, const std::string& in, const std::string& out) {
  try {
    if (mode == "--load") {
      TJpegGraphic img;
      img.LoadFromFile(in);
      return 0;
    }
    if (mode == "--decode") {
      TJpegGraphic img;
      img.LoadFromFile(in);
      return bench::WritePnm(img, out) ? 0 : 1;
    }
    if (mode == "--encode") {
      TJpegGraphic img;
      if (!bench::ReadPnm(in, img)) return 1;
      img.SaveToFile(out);
      return 0;
    }
    if (mode == "--g4") {
      TTiffGraphic img;
      img.LoadFromFile(in);
      img.SaveToFile(out);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--load") return RunMode(argv[1], argv[2], "");
  if (argc == 4) {
    const std::string mode = argv[1];
    if (mode == "--decode" || mode == "--encode" || mode == "--g4")
      return RunMode(mode, argv[2], argv[3]);
  }

  using benchmark::RegisterBenchmark;
  const auto ms = benchmark::kMillisecond;
  const std::vector<Pair> pairs = Pairs();
  for (const Pair& p : pairs) {
    RegisterBenchmark((p.name + "/ours").c_str(), Process,
                      WithOutput(p.ours, p.timedToNull ? "" : p.name + "-ours"))
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark((p.name + "/" + p.tool[0]).c_str(), Process,
                      WithOutput(p.tool, p.timedToNull ? "" : p.name + "-tool"))
        ->Unit(ms)->UseRealTime();
  }
  for (const char* kind : {"grey", "colour"}) {
    const std::string k = kind;
    const int f = k == "grey" ? ifGray256 : ifTrueColor;
    RegisterBenchmark(("jpeg_" + k + "/decode_warm").c_str(), Decode<TJpegGraphic>, k + ".jpg")
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark(("jpeg_" + k + "/encode_warm").c_str(), Encode<TJpegGraphic>, f,
                      k + "-warm.jpg")
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark(("png_" + k + "/decode").c_str(), InMemory<TPngGraphic>, f, true)->Unit(ms);
    RegisterBenchmark(("png_" + k + "/encode").c_str(), InMemory<TPngGraphic>, f, false)->Unit(ms);
  }
  RegisterBenchmark("tiff_g4/decode", InMemory<TTiffGraphic>, int(ifBlackWhite), true)->Unit(ms);
  RegisterBenchmark("tiff_g4/encode", InMemory<TTiffGraphic>, int(ifBlackWhite), false)->Unit(ms);
  RegisterBenchmark("pcx_bw/decode", InMemory<TPcxGraphic>, int(ifBlackWhite), true)->Unit(ms);
  RegisterBenchmark("pcx_bw/encode", InMemory<TPcxGraphic>, int(ifBlackWhite), false)->Unit(ms);
  RegisterBenchmark("pcx_colour/decode", InMemory<TPcxGraphic>, int(ifTrueColor), true)->Unit(ms);
  RegisterBenchmark("pcx_colour/encode", InMemory<TPcxGraphic>, int(ifTrueColor), false)->Unit(ms);

  benchmark::Initialize(&argc, argv);
  const int cpu = PinToOneCpu();
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nours / library tool, each a fresh process on CPU %d, medians (goal <= 1.2):\n",
              cpu);
  std::printf("  %-20s %-8s %9s %9s %6s  %s\n", "task", "tool", "ours ms", "tool ms", "ratio",
              "mean abs diff per sample");
  for (const Pair& p : pairs) {
    const double a = reporter.Median(p.name + "/ours"), b = reporter.Median(p.name + "/" + p.tool[0]);
    if (a < 0 || b < 0) continue;
    std::printf("  %-20s %-8s %9.1f %9.1f %6.2f  %s\n", p.name.c_str(), p.tool[0].c_str(), a, b,
                a / b, OutputDifference(p).c_str());
  }
  std::filesystem::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
