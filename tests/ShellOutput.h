#pragma once
// What a shell command prints, for tests that check files with the system's tools
// (pdfinfo, pdftotext, pdfimages).
#include <cstdio>
#include <string>

inline std::string Shell(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
  }
  return out;
}
