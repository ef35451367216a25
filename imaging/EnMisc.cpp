#include "imaging/EnMisc.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/PrivateTemp.h"

int MinInt(int a, int b) { return a < b ? a : b; }
double MinFloat(double a, double b) { return a < b ? a : b; }
double MaxFloat(double a, double b) { return a > b ? a : b; }
int ClampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }
double ClampFloat(double v, double lo, double hi) { return v < lo ? lo : (v > hi ? hi : v); }
void SwapInt(int& a, int& b) {
  int t = a;
  a = b;
  b = t;
}

double RoundTo(double x, int digits) {
  // Large values print far more than 40 characters; the text must be whole.
  const int n = std::snprintf(nullptr, 0, "%40.*f", digits, x);
  if (n < 0) return x;
  std::string buf(size_t(n) + 1, '\0');
  std::snprintf(buf.data(), buf.size(), "%40.*f", digits, x);
  return std::strtod(buf.c_str(), nullptr);
}

double Power(double base, double exponent) { return std::exp(exponent * std::log(base)); }

int Ceil(double x) {
  int i = static_cast<int>(x);
  return (x - i > 0) ? i + 1 : i;
}

int Floor(double x) {
  int i = static_cast<int>(x);
  return (x - i < 0) ? i - 1 : i;
}

bool FlagsSet(uint32_t value, uint32_t mask) { return (value & mask) == mask; }

int DoProgress(void* sender, int current, int min, const TProgressEvent& onProgress, int max,
               int lastPercent) {
  if (!onProgress) return 0;
  int percent = 100;
  if (max > min) {
    int64_t p = (static_cast<int64_t>(current) - min) * 100 / (static_cast<int64_t>(max) - min);
    percent = static_cast<int>(p < 0 ? 0 : (p > 100 ? 100 : p));
  }
  if (percent != lastPercent) onProgress(sender, static_cast<uint8_t>(percent));
  return percent;
}

namespace {
int g_waitDepth = 0;
std::function<void()> g_showWait, g_restoreWait;
int g_screenDpi = 96;
}  // namespace

void BeginWaitCursor() {
  if (g_waitDepth++ == 0 && g_showWait) g_showWait();
}

void EndWaitCursor() {
  if (g_waitDepth == 0) return;
  if (--g_waitDepth == 0 && g_restoreWait) g_restoreWait();
}

int WaitCursorDepth() { return g_waitDepth; }

void SetWaitCursorHooks(std::function<void()> show, std::function<void()> restore) {
  g_showWait = std::move(show);
  g_restoreWait = std::move(restore);
}

int ScreenDpi() { return g_screenDpi; }
void SetScreenDpi(int dpi) {
  if (dpi > 0 && dpi <= 65535) g_screenDpi = dpi;
}

std::string AddBackslash(const std::string& path) {
  if (path.empty()) return "/";
  if (path.back() == '/') return path;
  return path + "/";
}

std::string CreateTempFile(const std::string& prefix, const std::string& extension) {
  // The user's private folder: no one else can plant a name there.
  std::string dir;
  try {
    dir = PrivateTempFolder();
  } catch (const Exception&) {
    throw Exception("EnMisc.CreateTempFile.GetTempPath failed");
  }
  std::error_code ec;
  std::string ext = extension;
  if (!ext.empty() && ext[0] != '.') ext = "." + ext;
  std::string base = dir + prefix;
  for (unsigned long n = 0;; ++n) {
    std::string name = base + std::to_string(n) + ext;
    if (!std::filesystem::exists(name, ec)) return name;
  }
}

void RaiseLzwNotSupported() { throw EImagingError("LZW compression not supported"); }

AnsiString DateToStrFmt(const AnsiString& format, TDateTime date) {
  TFormatSettings fs = DefaultFormatSettings();
  fs.ShortDateFormat = format;
  return DateToStr(date, fs);
}

AnsiString TimeToStrFmt(const AnsiString& format, TDateTime time) {
  TFormatSettings fs = DefaultFormatSettings();
  fs.LongTimeFormat = format;
  return TimeToStr(time, fs);
}
