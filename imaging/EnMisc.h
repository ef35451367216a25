#pragma once
// Small helpers shared by the imaging library: its general exception, progress
// reporting, clamping and rounding rules, the wait cursor and temp file names.
#include <cstdint>
#include <functional>
#include <string>

#include "core/AnsiString.h"
#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/Rounding.h"  // RoundHalfEven, the rounding rule of the imaging code too

class EImagingError : public Exception {
 public:
  using Exception::Exception;
};

// Raised for clipboard and bitmap-handle errors.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// (Sender, PercentDone)
using TProgressEvent = std::function<void(void* sender, uint8_t percentDone)>;

int MinInt(int a, int b);
double MinFloat(double a, double b);
double MaxFloat(double a, double b);
int ClampInt(int v, int lo, int hi);
double ClampFloat(double v, double lo, double hi);
void SwapInt(int& a, int& b);


// X with Digits decimals, taken through its decimal text.
double RoundTo(double x, int digits);
double Power(double base, double exponent);
int Ceil(double x);
int Floor(double x);
bool FlagsSet(uint32_t value, uint32_t mask);

// Reports a whole percentage once: returns the new last percentage (0 without a
// handler). An empty range (max <= min) counts as done, so one-row images
// report 100 instead of dividing by zero.
int DoProgress(void* sender, int current, int min, const TProgressEvent& onProgress,
               int max, int lastPercent);

// Nesting wait cursor; the user interface installs the hooks that show it.
void BeginWaitCursor();
void EndWaitCursor();
int WaitCursorDepth();
void SetWaitCursorHooks(std::function<void()> show, std::function<void()> restore);

// Dots per inch of the screen, used when an image is made without a resolution.
int ScreenDpi();
void SetScreenDpi(int dpi);

// Appends the path separator unless the path already ends in one.
std::string AddBackslash(const std::string& path);
// The first free name "temp dir + prefix + counter + extension"; not created.
std::string CreateTempFile(const std::string& prefix, const std::string& extension);

[[noreturn]] void RaiseLzwNotSupported();

// A date (time) in the given short date (long time) format, leaving the
// process-wide settings untouched.
AnsiString DateToStrFmt(const AnsiString& format, TDateTime date);
AnsiString TimeToStrFmt(const AnsiString& format, TDateTime time);
