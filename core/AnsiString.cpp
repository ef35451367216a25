#include "core/AnsiString.h"

#include <cerrno>
#include <iconv.h>
#include <mutex>

namespace {

// iconv descriptors are not thread-safe; one pair per thread keeps conversion lock-free.
struct Converters {
  iconv_t toUtf8 = iconv_open("UTF-8", "CP936");
  iconv_t toCp936 = iconv_open("CP936", "UTF-8");
  ~Converters() {
    if (toUtf8 != (iconv_t)-1) iconv_close(toUtf8);
    if (toCp936 != (iconv_t)-1) iconv_close(toCp936);
  }
};

Converters& Conv() {
  thread_local Converters c;
  return c;
}

// Runs iconv over the whole input; onBad is called at an undecodable position and returns
// how many input bytes to skip and what to emit instead.
template <typename OnBad>
std::string Convert(iconv_t cd, std::string_view in, OnBad onBad) {
  std::string out;
  if (cd == (iconv_t)-1) return std::string(in);
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  out.resize(in.size() * 2 + 16);
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  size_t used = 0;
  while (srcLeft > 0) {
    char* dst = out.data() + used;
    size_t dstLeft = out.size() - used;
    size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    used = out.size() - dstLeft;
    if (r != (size_t)-1) break;
    if (errno == E2BIG) {
      out.resize(out.size() * 2);
      continue;
    }
    bool truncated = errno == EINVAL;
    auto [skip, repl] = onBad(std::string_view(src, srcLeft), truncated);
    if (skip > srcLeft) skip = srcLeft;
    src += skip;
    srcLeft -= skip;
    if (out.size() - used < repl.size()) out.resize(out.size() * 2 + repl.size());
    out.replace(used, repl.size(), repl);
    used += repl.size();
  }
  out.resize(used);
  return out;
}

}  // namespace

std::string Cp936ToUtf8(std::string_view cp936) {
  return Convert(Conv().toUtf8, cp936, [](std::string_view rest, bool truncated) {
    if (truncated) return std::pair<size_t, std::string>(rest.size(), "");
    return std::pair<size_t, std::string>(1, "\xEF\xBF\xBD");
  });
}

AnsiString Utf8ToCp936(std::string_view utf8) {
  return Convert(Conv().toCp936, utf8, [](std::string_view rest, bool) {
    // Skip one whole UTF-8 sequence (or one stray byte).
    size_t n = 1;
    auto lead = static_cast<uint8_t>(rest[0]);
    if (lead >= 0xF0) n = 4;
    else if (lead >= 0xE0) n = 3;
    else if (lead >= 0xC0) n = 2;
    if (n > rest.size()) n = rest.size();
    for (size_t i = 1; i < n; ++i)
      if ((static_cast<uint8_t>(rest[i]) & 0xC0) != 0x80) { n = i; break; }
    return std::pair<size_t, std::string>(n, "?");
  });
}

namespace {
template <typename Map>
AnsiString MapAscii(std::string_view s, Map map) {
  AnsiString r(s);
  for (size_t i = 0; i < r.size(); ++i) {
    auto b = static_cast<uint8_t>(r[i]);
    if (IsDbcsLeadByte(b)) {
      ++i;  // leave the trail byte alone
      continue;
    }
    r[i] = map(r[i]);
  }
  return r;
}
}  // namespace

AnsiString AnsiUpperCase(std::string_view s) {
  return MapAscii(s, [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; });
}

AnsiString AnsiLowerCase(std::string_view s) {
  return MapAscii(s, [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; });
}

size_t Cp936SafeCut(std::string_view s, size_t maxBytes) {
  if (s.size() <= maxBytes) return s.size();
  size_t i = 0;
  while (i < maxBytes) {
    size_t step = IsDbcsLeadByte(static_cast<uint8_t>(s[i])) ? 2 : 1;
    if (i + step > maxBytes) break;
    i += step;
  }
  return i;
}
