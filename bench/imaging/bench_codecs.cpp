// Decoding and encoding an A4 300-dpi page in the formats a scan is kept in:
// black and white as TIFF Group 4, grey and colour as JPEG and PNG, and PCX.
// In the same run libtiff's tiffcp and libjpeg's djpeg/cjpeg work on the same
// files; the ratios ours / theirs are printed at the end (the goal is at most
// 1.2: the work is the library's, our overhead should be small).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

void WritePnm(const TDibGraphic& img, const std::string& path) {
  const bool grey = img.ImageFormat() == ifGray256;
  FILE* f = std::fopen(path.c_str(), "wb");
  std::fprintf(f, "P%d\n%d %d\n255\n", grey ? 5 : 6, img.Width(), img.Height());
  std::vector<uint8_t> row(size_t(img.Width()) * 3);
  for (int y = 0; y < img.Height(); ++y) {
    const uint8_t* src = img.ScanLine(y);
    if (grey) {
      std::fwrite(src, 1, size_t(img.Width()), f);
      continue;
    }
    for (int x = 0; x < img.Width(); ++x) {
      row[3 * x] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x];
    }
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
}

// The inputs on disk: our files for the tools to read, PNM for cjpeg.
void Prepare() {
  static bool done = false;
  if (done) return;
  done = true;
  Page<TTiffGraphic>(ifBlackWhite).SaveToFile(PathOf("bw.tif"));
  for (int f : {ifGray256, ifTrueColor}) {
    const std::string name = f == ifGray256 ? "grey" : "colour";
    Page<TJpegGraphic>(f).SaveToFile(PathOf(name + ".jpg"));
    WritePnm(Page<TJpegGraphic>(f), PathOf(name + ".pnm"));
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

void Tool(benchmark::State& state, std::vector<std::string> args) {
  Prepare();
  for (auto& a : args)
    if (a.rfind("@", 0) == 0) a = PathOf(a.substr(1));
  if (!Spawn(args)) return state.SkipWithError(("cannot run " + args[0]).c_str());
  for (auto _ : state) Spawn(args);
}

// Ours from file to file, as the tools work.
void TiffG4LoadSave(benchmark::State& state) {
  Prepare();
  for (auto _ : state) {
    TTiffGraphic img;
    img.LoadFromFile(PathOf("bw.tif"));
    img.SaveToFile(PathOf("bw-ours.tif"));
  }
}

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

// Pairs whose ratio is printed: ours, the tool's.
const std::pair<const char*, const char*> kPairs[] = {
    {"tiff_g4/ours_load_save", "tiff_g4/tiffcp"},
    {"jpeg_grey/ours_decode", "jpeg_grey/djpeg"},
    {"jpeg_grey/ours_encode", "jpeg_grey/cjpeg"},
    {"jpeg_colour/ours_decode", "jpeg_colour/djpeg"},
    {"jpeg_colour/ours_encode", "jpeg_colour/cjpeg"},
};

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> times;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (!r.error_occurred) {
        std::string name = r.benchmark_name();
        const std::string suffix = "/real_time";
        if (name.size() > suffix.size() && name.ends_with(suffix)) name.resize(name.size() - suffix.size());
        times[name] = r.GetAdjustedRealTime();
      }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  using benchmark::RegisterBenchmark;
  const auto ms = benchmark::kMillisecond;
  RegisterBenchmark("tiff_g4/ours_load_save", TiffG4LoadSave)->Unit(ms)->UseRealTime();
  RegisterBenchmark("tiff_g4/tiffcp", Tool,
                    std::vector<std::string>{"tiffcp", "-c", "g4", "@bw.tif", "@bw-tool.tif"})
      ->Unit(ms)->UseRealTime();
  for (const char* kind : {"grey", "colour"}) {
    const std::string k = kind;
    const int f = k == "grey" ? ifGray256 : ifTrueColor;
    RegisterBenchmark(("jpeg_" + k + "/ours_decode").c_str(), Decode<TJpegGraphic>, k + ".jpg")
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark(("jpeg_" + k + "/djpeg").c_str(), Tool,
                      std::vector<std::string>{"djpeg", "-outfile", "/dev/null", "@" + k + ".jpg"})
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark(("jpeg_" + k + "/ours_encode").c_str(), Encode<TJpegGraphic>, f, k + "-ours.jpg")
        ->Unit(ms)->UseRealTime();
    RegisterBenchmark(("jpeg_" + k + "/cjpeg").c_str(), Tool,
                      std::vector<std::string>{"cjpeg", "-quality", "80", "-outfile",
                                               "@" + k + "-tool.jpg", "@" + k + ".pnm"})
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
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nours / library tool (goal <= 1.2):\n");
  for (const auto& [ours, tool] : kPairs) {
    auto a = reporter.times.find(ours), b = reporter.times.find(tool);
    if (a == reporter.times.end() || b == reporter.times.end()) continue;
    std::printf("  %-26s %-20s %.2f\n", ours, tool, a->second / b->second);
  }
  std::filesystem::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
