// Decoding and encoding an A4 300-dpi page in the formats a scan is kept in:
// black and white as TIFF Group 4, grey and colour as JPEG and PNG, and PCX.
//
// Every figure is ours beside a reference doing the same work, timed in turns
// (ours first in one round, the reference first in the next) so a change of
// load on a shared machine falls on both sides alike, and reported as medians
// of at least ROUNDS rounds (--rounds N, 15 unless told; --benchmark_repetitions=N
// means the same; a fast case takes more, up to four times as many) with the
// median of the per-round ratios, which drift cancels best. --filter A,B runs
// the cases whose names contain A or B.
//  - Fresh processes, file to file, as the library's own tools work: tiffcp
//    for Group 4 (load and save), djpeg and cjpeg for JPEG. "load" decodes into
//    memory on both sides (the tool writes to the bit bucket), "decode" writes
//    a PNM file on both sides. Ours is run_jpeg or run_g4, each linked as
//    lean as its tool and, like it, writing its output file in place (the
//    program's own saves also flush the file to disk and rename it, which no
//    tool does: "save,flushed" times that path beside our in-place write).
//  - Warm, in this process: ours against the bare library call (libjpeg,
//    libpng) or, for PCX, a run-length coder written for speed, on the same
//    file or page; the references reuse their output buffers as ours do.
// Each side's output is read back and compared with the input (the page, or
// the PNM cjpeg reads): mean absolute difference per sample, 0 for lossless.
// Everything runs on one CPU (--cpu N, else the one we start on). --write DIR
// writes the inputs there and stops.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <png.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bench/imaging/BenchPnm.h"
#include "core/Rounding.h"
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

std::string writeTo;  // --write DIR: the inputs are kept there for timing by hand

std::string Dir() {
  static std::string dir = [] {
    if (!writeTo.empty()) return writeTo;
    auto d = std::filesystem::temp_directory_path() / ("tarvo-bench-codecs-" + std::to_string(getpid()));
    std::filesystem::create_directories(d);
    return d.string();
  }();
  return dir;
}
std::string PathOf(const std::string& name) { return Dir() + "/" + name; }

// The inputs on disk: our files for the tools to read, PNM for cjpeg.
void Prepare() {
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

// "@name" stands for the file of that name in the working folder.
std::vector<std::string> Resolve(std::vector<std::string> args) {
  for (auto& a : args)
    if (a.rfind("@", 0) == 0)
      a = PathOf(a.substr(1));
  return args;
}

// --- the bare library calls the warm figures are set against ----------------

// The page as libjpeg decodes it, rows bottom-up as ours keeps them.
struct JpegError : jpeg_error_mgr {
  static void Exit(j_common_ptr) { throw std::runtime_error("libjpeg"); }
};

// out is reused from call to call, as our pages reuse their memory.
void BareJpegDecode(const std::string& path, std::vector<uint8_t>& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  jpeg_decompress_struct d{};
  JpegError err;
  d.err = jpeg_std_error(&err);
  err.error_exit = JpegError::Exit;
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  jpeg_read_header(&d, TRUE);
  d.out_color_space = d.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_start_decompress(&d);
  const size_t stride = (size_t(d.output_width) * d.output_components + 3) & ~size_t(3);
  out.resize(stride * d.output_height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = out.data() + (d.output_height - 1 - d.output_scanline) * stride;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
}

std::vector<uint8_t> BareJpegDecode(const std::string& path) {
  std::vector<uint8_t> out;
  BareJpegDecode(path, out);
  return out;
}

void BareJpegEncode(const TJpegGraphic& img, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct c{};
  JpegError err;
  c.err = jpeg_std_error(&err);
  err.error_exit = JpegError::Exit;
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  const bool grey = img.ImageFormat() == ifGray256;
  c.image_width = JDIMENSION(img.Width());
  c.image_height = JDIMENSION(img.Height());
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  c.density_unit = 1;
  c.X_density = UINT16(img.XDotsPerInch());
  c.Y_density = UINT16(img.YDotsPerInch());
  jpeg_set_quality(&c, img.Quality, TRUE);
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < img.Height(); ++y) {
    JSAMPROW row = const_cast<uint8_t*>(img.ScanLine(y));
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

struct PngMemory {
  const std::string* in = nullptr;
  size_t at = 0;
  std::string out;
  static void Read(png_structp p, png_bytep data, png_size_t n) {
    auto* m = static_cast<PngMemory*>(png_get_io_ptr(p));
    if (m->at + n > m->in->size()) png_error(p, "short");
    std::memcpy(data, m->in->data() + m->at, n);
    m->at += n;
  }
  static void Write(png_structp p, png_bytep data, png_size_t n) {
    static_cast<PngMemory*>(png_get_io_ptr(p))->out.append(reinterpret_cast<char*>(data), n);
  }
  static void Flush(png_structp) {}
};

void BarePngDecode(const std::string& file, std::vector<uint8_t>& out) {
  PngMemory m;
  m.in = &file;
  png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_read_struct(&p, &info, nullptr);
    throw std::runtime_error("libpng");
  }
  png_set_read_fn(p, &m, PngMemory::Read);
  png_read_info(p, info);
  png_set_bgr(p);
  const int passes = png_set_interlace_handling(p);
  png_read_update_info(p, info);
  const png_uint_32 w = png_get_image_width(p, info), h = png_get_image_height(p, info);
  const size_t rowBytes = png_get_rowbytes(p, info), stride = (rowBytes + 3) & ~size_t(3);
  out.resize(stride * h);
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(p, out.data() + (h - 1 - y) * stride, nullptr);
  png_read_end(p, nullptr);
  png_destroy_read_struct(&p, &info, nullptr);
  (void)w;
}

std::vector<uint8_t> BarePngDecode(const std::string& file) {
  std::vector<uint8_t> out;
  BarePngDecode(file, out);
  return out;
}

std::string BarePngEncode(const TPngGraphic& img) {
  PngMemory m;
  png_structp p = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(p);
  if (setjmp(png_jmpbuf(p))) {
    png_destroy_write_struct(&p, &info);
    throw std::runtime_error("libpng");
  }
  png_set_write_fn(p, &m, PngMemory::Write, PngMemory::Flush);
  const bool grey = img.ImageFormat() == ifGray256;
  png_set_IHDR(p, info, png_uint_32(img.Width()), png_uint_32(img.Height()), 8,
               grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
               img.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  static const int kLevels[3] = {1, 5, 9};
  png_set_compression_level(p, kLevels[std::min<int>(img.CompressionLevel, 2)]);
  png_write_info(p, info);
  if (!grey) png_set_bgr(p);
  const int passes = img.Interlaced ? png_set_interlace_handling(p) : 1;
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < img.Height(); ++y) png_write_row(p, img.ScanLine(y));
  png_write_end(p, info);
  png_destroy_write_struct(&p, &info);
  return std::move(m.out);
}

// PCX has no library: the reference is a run-length coder written for speed
// over the same lines, planes split as the file keeps them. It writes through
// a pointer into room reserved once, finds runs a word at a time, and copies
// literal stretches and fills runs with the C library's block moves.
struct PcxLayout {
  int w, h, planes, bpl;
};

PcxLayout PcxOf(const TDibGraphic& img) {
  const bool colour = img.ImageFormat() == ifTrueColor;
  int bpl = colour ? img.Width() : (img.Width() + 7) / 8;
  bpl += bpl & 1;
  return {img.Width(), img.Height(), colour ? 3 : 1, bpl};
}

// Bytes from p equal to v, at most max.
size_t RunOf(const uint8_t* p, size_t max, uint8_t v) {
  uint64_t pattern = 0x0101010101010101ull * v;
  size_t n = 0;
  while (n + 8 <= max) {
    uint64_t w;
    std::memcpy(&w, p + n, 8);
    if (const uint64_t diff = w ^ pattern) return n + size_t(__builtin_ctzll(diff) / 8);
    n += 8;
  }
  while (n < max && p[n] == v) ++n;
  return n;
}

std::string BarePcxEncode(const TDibGraphic& img) {
  const PcxLayout l = PcxOf(img);
  const size_t lineBytes = size_t(l.bpl) * l.planes;
  std::string out(128 + 2 * lineBytes * size_t(l.h), '\0');
  out[0] = 10, out[1] = 5, out[2] = 1, out[3] = char(l.planes == 3 ? 8 : 1);
  out[8] = char((l.w - 1) & 255), out[9] = char((l.w - 1) >> 8);
  out[10] = char((l.h - 1) & 255), out[11] = char((l.h - 1) >> 8);
  out[65] = char(l.planes), out[66] = char(l.bpl & 255), out[67] = char(l.bpl >> 8), out[68] = 1;
  uint8_t* o = reinterpret_cast<uint8_t*>(out.data()) + 128;
  std::vector<uint8_t> line(lineBytes);
  for (int y = 0; y < l.h; ++y) {
    const uint8_t* row = img.ScanLine(y);
    if (l.planes == 3)
      for (int x = 0; x < l.w; ++x) {
        line[x] = row[3 * x + 2];
        line[l.bpl + x] = row[3 * x + 1];
        line[2 * l.bpl + x] = row[3 * x];
      }
    else
      std::memcpy(line.data(), row, size_t((l.w + 7) / 8));
    const uint8_t* p = line.data();
    const uint8_t* end = p + lineBytes;
    while (p < end) {
      const size_t run = RunOf(p + 1, std::min<size_t>(62, size_t(end - p - 1)), *p) + 1;
      if (run > 1 || *p >= 0xC0) *o++ = uint8_t(0xC0 | run);
      *o++ = *p;
      p += run;
    }
  }
  out.resize(size_t(o - reinterpret_cast<uint8_t*>(out.data())));
  return out;
}

// out is reused from call to call, as our pages reuse their memory.
void BarePcxDecode(const std::string& file, const PcxLayout& l, std::vector<uint8_t>& out) {
  const size_t rowBytes = l.planes == 3 ? (size_t(l.w) * 3 + 3) & ~size_t(3) : ((size_t(l.w) + 31) / 32) * 4;
  out.resize(rowBytes * l.h);
  std::vector<uint8_t> line(size_t(l.bpl) * l.planes);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data()) + 128;
  const uint8_t* end = reinterpret_cast<const uint8_t*>(file.data()) + file.size();
  for (int y = 0; y < l.h; ++y) {
    uint8_t* to = line.data();
    const size_t n = line.size();
    size_t i = 0;
    while (i < n && p < end) {
      if ((*p & 0xC0) == 0xC0) {
        if (p + 1 >= end) break;
        const size_t k = std::min<size_t>(*p & 63, n - i);
        std::memset(to + i, p[1], k);
        i += k;
        p += 2;
      } else {
        const uint8_t* q = p;
        while (q < end && size_t(q - p) < n - i && (*q & 0xC0) != 0xC0) ++q;
        std::memcpy(to + i, p, size_t(q - p));
        i += size_t(q - p);
        p = q;
      }
    }
    uint8_t* row = out.data() + (l.h - 1 - y) * rowBytes;
    if (l.planes == 3)
      for (int x = 0; x < l.w; ++x) {
        row[3 * x + 2] = line[x];
        row[3 * x + 1] = line[l.bpl + x];
        row[3 * x] = line[2 * l.bpl + x];
      }
    else
      std::memcpy(row, line.data(), size_t((l.w + 7) / 8));
  }
}

std::vector<uint8_t> BarePcxDecode(const std::string& file, const PcxLayout& l) {
  std::vector<uint8_t> out;
  BarePcxDecode(file, l, out);
  return out;
}

// --- how far an output lies from the input ----------------------------------

// Samples of any output file: PNM, JPEG, TIFF, PNG or PCX.
bool LoadSamples(const std::string& path, bench::Samples& s) {
  try {
    std::unique_ptr<TDibGraphic> img;
    if (path.ends_with(".pnm")) {
      img = std::make_unique<TDibGraphic>();
      if (!bench::ReadPnm(path, *img)) return false;
    } else {
      if (path.ends_with(".jpg"))
        img = std::make_unique<TJpegGraphic>();
      else if (path.ends_with(".png"))
        img = std::make_unique<TPngGraphic>();
      else if (path.ends_with(".pcx"))
        img = std::make_unique<TPcxGraphic>();
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

// Bottom-up rows of the page's layout as samples.
bench::Samples SamplesOfRows(const std::vector<uint8_t>& rows, const TDibGraphic& like) {
  TDibGraphic img;
  img.NewImage(like.Width(), like.Height(), like.ImageFormat(), nullptr, 300, 300);
  if (rows.size() == img.ImageSize()) std::memcpy(img.Bits(), rows.data(), rows.size());
  return bench::SamplesOf(img);
}

std::string Error(const bench::Samples& out, const bench::Samples& input) {
  const double d = bench::MeanAbsDiff(out, input);
  if (d < 0) return "size!";
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", d);
  return text;
}

std::string ErrorOfFile(const std::string& path, const bench::Samples& input) {
  bench::Samples s;
  return LoadSamples(path, s) ? Error(s, input) : "unread";
}

// --- cases and rounds -------------------------------------------------------

struct Case {
  std::string name, reference;
  std::function<void()> ours, ref;
  // Each side's error against the input, run once after the timing.
  std::function<std::pair<std::string, std::string>()> errors;
};

// Ours, or another build's when TARVO_RUN_JPEG / TARVO_RUN_G4 name one (to set
// a change against the code before it).
std::string Ours(const char* variable, const char* built) {
  const char* other = std::getenv(variable);
  return other && *other ? other : built;
}

std::function<void()> Process(std::vector<std::string> args) {
  args = Resolve(std::move(args));
  return [args] {
    if (!Spawn(args)) throw std::runtime_error("cannot run " + args[0]);
  };
}

double Median(std::vector<double> t) {
  std::sort(t.begin(), t.end());
  const size_t n = t.size();
  return n % 2 ? t[n / 2] : (t[n / 2 - 1] + t[n / 2]) / 2;
}

double Quantile(std::vector<double> t, double q) {
  std::sort(t.begin(), t.end());
  return t[size_t(RoundHalfAway(q * double(t.size() - 1)))];
}

double TimeMs(const std::function<void()>& f) {
  const auto t = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

std::vector<Case> Cases() {
  std::vector<Case> cases;
  const auto page = [](int f) { return bench::SamplesOf(Page<TJpegGraphic>(f)); };
  const bench::Samples bw = bench::SamplesOf(Page<TTiffGraphic>(ifBlackWhite));

  cases.push_back({"tiff_g4 load+save", "tiffcp",
                   Process({Ours("TARVO_RUN_G4", RUN_G4), "@bw.tif", "@g4-ours.tif"}),
                   Process({"tiffcp", "-c", "g4", "@bw.tif", "@g4-tool.tif"}), [bw] {
                     return std::pair{ErrorOfFile(PathOf("g4-ours.tif"), bw),
                                      ErrorOfFile(PathOf("g4-tool.tif"), bw)};
                   }});
  for (const std::string k : {"grey", "colour"}) {
    const int f = k == "grey" ? ifGray256 : ifTrueColor;
    const std::string jpg = "@" + k + ".jpg";
    const std::string oursPnm = "@" + k + "-ours.pnm", toolPnm = "@" + k + "-tool.pnm";
    const auto decodeErrors = [=] {
      Process({Ours("TARVO_RUN_JPEG", RUN_JPEG), "--decode", jpg, oursPnm})();
      Process({"djpeg", "-outfile", toolPnm, jpg})();
      const bench::Samples in = page(f);
      return std::pair{ErrorOfFile(PathOf(k + "-ours.pnm"), in),
                       ErrorOfFile(PathOf(k + "-tool.pnm"), in)};
    };
    cases.push_back({"jpeg_" + k + " load", "djpeg", Process({Ours("TARVO_RUN_JPEG", RUN_JPEG), "--load", jpg}),
                     Process({"djpeg", "-outfile", "/dev/null", jpg}), decodeErrors});
    cases.push_back({"jpeg_" + k + " decode", "djpeg",
                     Process({Ours("TARVO_RUN_JPEG", RUN_JPEG), "--decode", jpg, oursPnm}),
                     Process({"djpeg", "-outfile", toolPnm, jpg}), decodeErrors});
    const auto encode = [=](const char* mode, const std::string& out) {
      return Process({Ours("TARVO_RUN_JPEG", RUN_JPEG), mode, "@" + k + ".pnm", "@" + k + out});
    };
    const auto encodeErrors = [=](const std::string& ours, const std::string& ref) {
      return [=] {
        const bench::Samples in = page(f);
        return std::pair{ErrorOfFile(PathOf(k + ours), in), ErrorOfFile(PathOf(k + ref), in)};
      };
    };
    cases.push_back({"jpeg_" + k + " encode", "cjpeg", encode("--encode", "-ours.jpg"),
                     Process({"cjpeg", "-quality", "80", "-outfile", "@" + k + "-tool.jpg", "@" + k + ".pnm"}),
                     encodeErrors("-ours.jpg", "-tool.jpg")});
    // What the program's own save costs beyond the in-place write: the whole file into a
    // new one, flushed to disk, renamed over the old. Not a pair with a tool: none flushes.
    cases.push_back({"jpeg_" + k + " save,flushed", "in place", encode("--save", "-saved.jpg"),
                     encode("--encode", "-ours.jpg"), encodeErrors("-saved.jpg", "-ours.jpg")});
  }

  // Warm, in this process.
  for (const std::string k : {"grey", "colour"}) {
    const int f = k == "grey" ? ifGray256 : ifTrueColor;
    const std::string jpg = PathOf(k + ".jpg");
    cases.push_back({"jpeg_" + k + "/warm load", "libjpeg",
                     [jpg] {
                       TJpegGraphic img;
                       img.LoadFromFile(jpg);
                       benchmark::DoNotOptimize(img.Bits());
                     },
                     [jpg, kept = std::make_shared<std::vector<uint8_t>>()] {
                       BareJpegDecode(jpg, *kept);
                       benchmark::DoNotOptimize(kept->data());
                     },
                     [=] {
                       TJpegGraphic img;
                       img.LoadFromFile(jpg);
                       const bench::Samples in = page(f);
                       return std::pair{Error(bench::SamplesOf(img), in),
                                        Error(SamplesOfRows(BareJpegDecode(jpg), img), in)};
                     }});
    const std::string oursJpg = PathOf(k + "-warm-ours.jpg"), refJpg = PathOf(k + "-warm-ref.jpg");
    cases.push_back({"jpeg_" + k + "/warm save", "libjpeg",
                     // In place, as the bare call writes: the flush is timed apart above.
                     [=] {
                       TFileStream out(oursJpg, fmCreate);
                       Page<TJpegGraphic>(f).SaveToStream(out);
                     },
                     [=] { BareJpegEncode(Page<TJpegGraphic>(f), refJpg); },
                     [=] {
                       const bench::Samples in = page(f);
                       return std::pair{ErrorOfFile(oursJpg, in), ErrorOfFile(refJpg, in)};
                     }});
  }
  for (const std::string k : {"grey", "colour"}) {
    const int f = k == "grey" ? ifGray256 : ifTrueColor;
    auto file = std::make_shared<std::string>();
    // Ours reads the file's bytes where they lie, as the bare call does.
    auto stream = std::make_shared<TMemoryStream>();
    cases.push_back({"png_" + k + " decode", "libpng",
                     [=] {
                       if (file->empty()) {
                         TMemoryStream s;
                         Page<TPngGraphic>(f).SaveToStream(s);
                         *file = std::string(s.Memory(), size_t(s.Size()));
                         *stream = TMemoryStream(*file);
                       }
                       stream->SetPosition(0);
                       TPngGraphic img;
                       img.LoadFromStream(*stream);
                       benchmark::DoNotOptimize(img.Bits());
                     },
                     [=, kept = std::make_shared<std::vector<uint8_t>>()] {
                       BarePngDecode(*file, *kept);
                       benchmark::DoNotOptimize(kept->data());
                     },
                     [=] {
                       TMemoryStream s(*file);
                       TPngGraphic img;
                       img.LoadFromStream(s);
                       const bench::Samples in = bench::SamplesOf(Page<TPngGraphic>(f));
                       return std::pair{Error(bench::SamplesOf(img), in),
                                        Error(SamplesOfRows(BarePngDecode(*file), img), in)};
                     }});
    cases.push_back({"png_" + k + " encode", "libpng",
                     [=] {
                       TMemoryStream s;
                       Page<TPngGraphic>(f).SaveToStream(s);
                       benchmark::DoNotOptimize(s.Memory());
                     },
                     [=] { benchmark::DoNotOptimize(BarePngEncode(Page<TPngGraphic>(f)).data()); },
                     [=] {
                       const bench::Samples in = bench::SamplesOf(Page<TPngGraphic>(f));
                       TMemoryStream s;
                       Page<TPngGraphic>(f).SaveToStream(s);
                       std::ofstream(PathOf(k + "-ours.png"), std::ios::binary)
                           .write(s.Memory(), s.Size());
                       const std::string ref = BarePngEncode(Page<TPngGraphic>(f));
                       std::ofstream(PathOf(k + "-ref.png"), std::ios::binary)
                           .write(ref.data(), std::streamsize(ref.size()));
                       return std::pair{ErrorOfFile(PathOf(k + "-ours.png"), in),
                                        ErrorOfFile(PathOf(k + "-ref.png"), in)};
                     }});
  }
  for (const std::string k : {"bw", "colour"}) {
    const int f = k == "bw" ? ifBlackWhite : ifTrueColor;
    auto file = std::make_shared<std::string>();
    // Ours reads the file's bytes where they lie, as the bare coder does.
    auto stream = std::make_shared<TMemoryStream>();
    const auto encodeOurs = [f, file] {
      TMemoryStream s;
      Page<TPcxGraphic>(f).SaveToStream(s);
      *file = s.TakeData();
    };
    cases.push_back({"pcx_" + k + " decode", "fast RLE",
                     [=] {
                       if (file->empty()) {
                         encodeOurs();
                         *stream = TMemoryStream(*file);
                       }
                       stream->SetPosition(0);
                       TPcxGraphic img;
                       img.LoadFromStream(*stream);
                       benchmark::DoNotOptimize(img.Bits());
                     },
                     [=, kept = std::make_shared<std::vector<uint8_t>>()] {
                       BarePcxDecode(*file, PcxOf(Page<TPcxGraphic>(f)), *kept);
                       benchmark::DoNotOptimize(kept->data());
                     },
                     [=] {
                       TMemoryStream s(*file);
                       TPcxGraphic img;
                       img.LoadFromStream(s);
                       const TDibGraphic& p = Page<TPcxGraphic>(f);
                       const bench::Samples in = bench::SamplesOf(p);
                       return std::pair{Error(bench::SamplesOf(img), in),
                                        Error(SamplesOfRows(BarePcxDecode(*file, PcxOf(p)), p), in)};
                     }});
    cases.push_back({"pcx_" + k + " encode", "fast RLE", encodeOurs,
                     [=] { benchmark::DoNotOptimize(BarePcxEncode(Page<TPcxGraphic>(f)).data()); },
                     [=] {
                       const bench::Samples in = bench::SamplesOf(Page<TPcxGraphic>(f));
                       encodeOurs();
                       std::ofstream(PathOf(k + "-ours.pcx"), std::ios::binary) << *file;
                       std::ofstream(PathOf(k + "-ref.pcx"), std::ios::binary)
                           << BarePcxEncode(Page<TPcxGraphic>(f));
                       return std::pair{ErrorOfFile(PathOf(k + "-ours.pcx"), in),
                                        ErrorOfFile(PathOf(k + "-ref.pcx"), in)};
                     }});
  }
  return cases;
}

// Ours and the tools on one CPU, unless already pinned to one: the children
// inherit it.
int PinToOneCpu(int wanted) {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (wanted < 0 && sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) == 1)
    for (int c = 0; c < CPU_SETSIZE; ++c)
      if (CPU_ISSET(c, &set)) return c;
  const int cpu = wanted >= 0 ? wanted : sched_getcpu();
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

int IntOption(const std::string& arg, const std::string& name, int value) {
  return arg.rfind(name, 0) == 0 ? std::atoi(arg.c_str() + name.size()) : value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write") {
    writeTo = argv[2];
    std::filesystem::create_directories(writeTo);
    Prepare();
    return 0;
  }
  int rounds = 15, cpu = -1;
  std::string filter;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else if (a == "--cpu" && i + 1 < argc) cpu = std::atoi(argv[++i]);
    else if (a == "--filter" && i + 1 < argc) filter = argv[++i];
    rounds = IntOption(a, "--benchmark_repetitions=", rounds);
    if (a.rfind("--benchmark_filter=", 0) == 0) filter = a.substr(19);
  }
  rounds = std::max(rounds, 3);
  cpu = PinToOneCpu(cpu);
  Prepare();

  std::printf("ours against a reference doing the same work, in turns on CPU %d, %d rounds or more\n"
              "ms = median; spread = (75th - 25th percentile) / median of ours; ratio = median of"
              " the rounds' ours/ref;\nerr = mean absolute difference per sample of each side's"
              " output from the input\n\n",
              cpu, rounds);
  std::printf("%-24s %-9s %9s %9s %7s %7s %9s %9s\n", "task", "ref", "ours ms", "ref ms", "ratio",
              "spread", "ours err", "ref err");
  int status = 0;
  for (const Case& c : Cases()) {
    bool wanted = filter.empty();
    for (size_t at = 0; !wanted && at <= filter.size();) {
      const size_t comma = std::min(filter.find(',', at), filter.size());
      wanted = c.name.find(filter.substr(at, comma - at)) != std::string::npos;
      at = comma + 1;
    }
    if (!wanted) continue;
    std::vector<double> ours, ref, ratio;
    try {
      c.ours();  // once each, untimed: files in the cache, code paged in
      c.ref();
      // Fast cases take more rounds, up to four times as many, within about two seconds.
      double spent = 0;
      for (int r = 0; r < rounds || (r < 4 * rounds && spent < 2000); ++r) {
        double a, b;
        if (r % 2) {
          b = TimeMs(c.ref);
          a = TimeMs(c.ours);
        } else {
          a = TimeMs(c.ours);
          b = TimeMs(c.ref);
        }
        spent += a + b;
        ours.push_back(a);
        ref.push_back(b);
        ratio.push_back(a / b);
      }
      const auto [oursErr, refErr] = c.errors();
      const double m = Median(ours);
      std::printf("%-24s %-9s %9.2f %9.2f %7.3f %6.0f%% %9s %9s\n", c.name.c_str(),
                  c.reference.c_str(), m, Median(ref), Median(ratio),
                  100 * (Quantile(ours, 0.75) - Quantile(ours, 0.25)) / m, oursErr.c_str(),
                  refErr.c_str());
      std::fflush(stdout);
    } catch (const std::exception& e) {
      std::printf("%-24s %s\n", c.name.c_str(), e.what());
      status = 1;
    }
  }
  std::filesystem::remove_all(Dir());
  return status;
}
