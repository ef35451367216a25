#pragma once
// Shared by the scanning tests: the application with the project's SANE configuration (the
// test backend, with room for A4), and the backend's options stated in full for every scan,
// since the test backend keeps them while the process runs.
#include <QApplication>
#include <sane/sane.h>
#include <cstdlib>
#include <map>
#include <string>

#include "imaging/ui/SaneDsm.h"

// Makes every page end in this SANE status instead of its end of file (0, SANE_STATUS_GOOD:
// as read); SetScanOptions resets it. Defined in SaneReadFault.cpp, which each scanning test links.
void ForceSaneReadEnd(int status);

inline void SaneTestApp() {
  static int argc = 1;
  static char name[] = "imaging_scan_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    const char* src = std::getenv("TARVO_SOURCE_DIR");
    const std::string dir = std::string(src ? src : ".") + "/tests/sane";
    setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
    return new QApplication(argc, argv);
  }();
  (void)app;
}

inline void SetScanOptions(const std::string& picture, const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> all = {{"read-return-value", "Default"},
                                            {"test-picture", picture},
                                            {"three-pass", "no"},
                                            {"hand-scanner", "no"},
                                            {"source", "Flatbed"}};
  for (const auto& [k, v] : extra) all[k] = v;
  SetSaneSourceOptions(all);
  ForceSaneReadEnd(0);
}
