// Resize and format conversion on the sizes a scan produces: a 4928 x 3279
// photo down to 852 x 567 with every filter and to 256 colours, and an A4
// 300-dpi grey page dithered to black and white. `--write DIR` saves both inputs (PPM/PGM)
// so another program can be timed on exactly the same pixels; `--hashes` prints
// a hash of each filter's thumbnail. The file-to-file modes do one task the way
// the peers' command-line tools do it, reading a PNM and writing one:
//   --resize FILTER IN.ppm OUT.ppm   to the thumbnail's size
//   --dither IN.pgm OUT.pbm          Floyd-Steinberg to black and white
//   --colours256 IN.ppm OUT.ppm      quantised to 256 colours and dithered onto them
// and `--mae A B` prints the mean absolute difference per sample of two PNMs
// and how far A's mean sample lies from B's (the tone); a larger B is first
// reduced to A's size by area averaging.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <new>
#include <string>

#include "bench/imaging/BenchPnm.h"
#include "imaging/EnTransf.h"

// Heap bytes in use and their high-water mark, so a run can report the
// working memory it needed beyond its input. Kept out of line: inlined into a
// caller, the compiler would take the pair for a mismatched new and free.
namespace {
size_t g_heapInUse = 0, g_heapPeak = 0;
}  // namespace

[[gnu::noinline]] void* operator new(size_t n) {
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  g_heapInUse += malloc_usable_size(p);
  g_heapPeak = std::max(g_heapPeak, g_heapInUse);
  return p;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  if (!p) return;
  g_heapInUse -= malloc_usable_size(p);
  std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

constexpr int kPhotoW = 4928, kPhotoH = 3279, kThumbW = 852, kThumbH = 567;
constexpr int kPageW = 2480, kPageH = 3508;

uint32_t Noise(uint32_t& s) {
  s = s * 1664525u + 1013904223u;
  return s >> 24;
}

const TDibGraphic& Photo() {
  static TDibGraphic img;
  if (img.IsEmpty()) {
    img.NewImage(kPhotoW, kPhotoH, ifTrueColor, nullptr, 300, 300);
    uint32_t s = 12345;
    for (int y = 0; y < kPhotoH; ++y) {
      uint8_t* row = img.ScanLine(y);
      for (int x = 0; x < kPhotoW; ++x) {
        double v = 0.5 + 0.25 * std::sin(x * 0.01) * std::cos(y * 0.013);
        row[x * 3 + 0] = uint8_t(std::min(255.0, 255 * v * y / kPhotoH + Noise(s) / 8));
        row[x * 3 + 1] = uint8_t(std::min(255.0, 255 * v + Noise(s) / 8));
        row[x * 3 + 2] = uint8_t(std::min(255.0, 255 * v * x / kPhotoW + Noise(s) / 8));
      }
    }
  }
  return img;
}

// A page of dark "text" strokes on a light, slightly noisy background.
const TDibGraphic& Page() {
  static TDibGraphic img;
  if (img.IsEmpty()) {
    img.NewImage(kPageW, kPageH, ifGray256, nullptr, 300, 300);
    uint32_t s = 777;
    for (int y = 0; y < kPageH; ++y) {
      uint8_t* row = img.ScanLine(y);
      const bool textLine = (y / 12) % 4 != 3 && y > 200 && y < kPageH - 200;
      for (int x = 0; x < kPageW; ++x) {
        int v = 225 + int(Noise(s) % 24);
        if (textLine && x > 180 && x < kPageW - 180 && ((x / 7 + y / 12) % 5 == 0)) v = 40;
        v -= (x + y) % 97 / 3;  // uneven lighting
        row[x] = uint8_t(v);
      }
    }
  }
  return img;
}

void BM_Resize(benchmark::State& state) {
  const TDibGraphic& src = Photo();
  TResizeTransform t;
  t.Interpolate = true;
  t.Filter = TResizeFilter(state.range(0));
  t.Width = kThumbW;
  t.Height = kThumbH;
  state.SetLabel(ResizeFilterName(t.Filter));
  TDibGraphic dest;
  size_t work = 0;
  for (auto _ : state) {
    dest.FreeImage();
    const size_t before = g_heapInUse;
    g_heapPeak = before;
    t.ApplyOnDest(src, dest);
    benchmark::DoNotOptimize(dest.Bits());
    work = g_heapPeak - before - dest.ImageSize();
  }
  // Memory beyond the input and the output.
  state.counters["work_MB"] = double(work) / 1e6;
}
BENCHMARK(BM_Resize)->DenseRange(rfTriangle, rfMitchell)->Unit(benchmark::kMillisecond);

void BM_FloydSteinbergPage(benchmark::State& state) {
  const TDibGraphic& src = Page();
  TImageFormatTransform t;
  t.DestImageFormat = ifBlackWhite;
  t.Dither = true;
  TDibGraphic dest;
  for (auto _ : state) {
    t.ApplyOnDest(src, dest);
    benchmark::DoNotOptimize(dest.Bits());
  }
  // How far the page's mean grey moved, in percent of full scale.
  double in = 0, out = 0;
  for (int y = 0; y < kPageH; ++y)
    for (int x = 0; x < kPageW; ++x) {
      in += src.ScanLine(y)[x];
      out += (dest.ScanLine(y)[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
    }
  state.counters["tone_shift_pct"] = (out - in) / (double(kPageW) * kPageH * 255) * 100;
}
BENCHMARK(BM_FloydSteinbergPage)->Unit(benchmark::kMillisecond);

// The photo quantised to 256 colours and dithered onto them: the nearest
// palette entry is looked up once per pixel.
void BM_Convert256(benchmark::State& state) {
  const TDibGraphic& src = Photo();
  TImageFormatTransform t;
  t.DestImageFormat = ifColor256;
  TDibGraphic dest;
  for (auto _ : state) {
    t.ApplyOnDest(src, dest);
    benchmark::DoNotOptimize(dest.Bits());
  }
  state.counters["ns_per_pixel"] = benchmark::Counter(
      double(state.iterations()) * kPhotoW * kPhotoH,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Convert256)->Unit(benchmark::kMillisecond);

bool WriteInputs(const std::string& dir) {
  const TDibGraphic& photo = Photo();
  std::FILE* f = std::fopen((dir + "/photo.ppm").c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P6\n%d %d\n255\n", kPhotoW, kPhotoH);
  std::string row(size_t(kPhotoW) * 3, '\0');
  for (int y = 0; y < kPhotoH; ++y) {
    std::memcpy(row.data(), photo.ScanLine(y), row.size());
    SwapRedBlue(row.data(), int(row.size()));
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
  const TDibGraphic& page = Page();
  f = std::fopen((dir + "/page.pgm").c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "P5\n%d %d\n255\n", kPageW, kPageH);
  for (int y = 0; y < kPageH; ++y) std::fwrite(page.ScanLine(y), 1, size_t(kPageW), f);
  std::fclose(f);
  return true;
}

// FNV-1a of every filter's thumbnail, to check that faster code keeps the bytes.
void PrintResizeHashes() {
  for (int f = rfTriangle; f <= rfMitchell; ++f) {
    TResizeTransform t;
    t.Interpolate = true;
    t.Filter = TResizeFilter(f);
    t.Width = kThumbW;
    t.Height = kThumbH;
    TDibGraphic dest;
    t.ApplyOnDest(Photo(), dest);
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < dest.ImageSize(); ++i) h = (h ^ dest.Bits()[i]) * 1099511628211ull;
    std::printf("%-9s %016llx\n", ResizeFilterName(t.Filter), static_cast<unsigned long long>(h));
  }
}

// One task from file to file; 0 when the output is written.
int RunTask(const std::string& task, const std::string& in, const std::string& out) {
  TDibGraphic src, dest;
  if (!bench::ReadPnm(in, src)) {
    std::fprintf(stderr, "cannot read %s\n", in.c_str());
    return 1;
  }
  if (task.rfind("resize:", 0) == 0) {
    TResizeTransform t;
    t.Interpolate = true;
    t.Width = kThumbW;
    t.Height = kThumbH;
    int f = rfTriangle;
    while (f <= rfMitchell && task.substr(7) != ResizeFilterName(TResizeFilter(f))) ++f;
    if (f > rfMitchell) return 1;
    t.Filter = TResizeFilter(f);
    t.ApplyOnDest(src, dest);
  } else {
    TImageFormatTransform t;
    t.DestImageFormat = task == "--dither" ? ifBlackWhite : ifColor256;
    t.Dither = true;
    t.ApplyOnDest(src, dest);
  }
  return bench::WritePnm(dest, out) ? 0 : 1;
}

int PrintDifference(const std::string& a, const std::string& b) {
  TDibGraphic x, y;
  if (!bench::ReadPnm(a, x) || !bench::ReadPnm(b, y)) return 1;
  const bench::Samples sx = bench::SamplesOf(x);
  bench::Samples sy = bench::SamplesOf(y);
  // A larger B (the input of a resize) is first reduced to A's size.
  if (sy.width > sx.width && sy.height > sx.height && sy.channels == sx.channels)
    sy = bench::AreaReduced(sy, sx.width, sx.height);
  const double d = bench::MeanAbsDiff(sx, sy);
  if (d < 0) {
    std::printf("sizes-differ\n");
    return 1;
  }
  double tone = 0;
  for (size_t i = 0; i < sx.data.size(); ++i) tone += double(sx.data[i]) - sy.data[i];
  std::printf("%.4f %+.4f\n", d, tone / double(sx.data.size()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write") return WriteInputs(argv[2]) ? 0 : 1;
  if (argc == 5 && std::string(argv[1]) == "--resize")
    return RunTask(std::string("resize:") + argv[2], argv[3], argv[4]);
  if (argc == 4 && (std::string(argv[1]) == "--dither" || std::string(argv[1]) == "--colours256"))
    return RunTask(argv[1], argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "--mae") return PrintDifference(argv[2], argv[3]);
  if (argc == 2 && std::string(argv[1]) == "--hashes") {
    PrintResizeHashes();
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
