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

// Makes every page after the first afterPages end in this SANE status instead of its end of
// file (0, SANE_STATUS_GOOD: as read); SetScanOptions resets it. Defined in SaneReadFault.cpp,
// which each scanning test links.
void ForceSaneReadEnd(int status, int afterPages = 0);
// Makes every start after the first afterStarts fail in this status (0: as the device says).
void ForceSaneStartFailure(int status, int afterStarts = 0);
// Page starts asked of the device so far in this process.
int SaneStarts();

// The project's SANE configuration, before the first SANE call of the process.
inline void UseProjectSaneConfig() {
  const char* src = std::getenv("TARVO_SOURCE_DIR");
  setenv("SANE_CONFIG_DIR", (std::string(src ? src : ".") + "/tests/sane").c_str(), 1);
}

// The test backend's colour page from its flatbed, for tests that only need a page.
inline void UseSaneTestPage() {
  UseProjectSaneConfig();
  SetSaneSourceOptions({{"test-picture", "Color pattern"}, {"source", "Flatbed"}, {"read-return-value", "Default"}});
}

inline void SaneTestApp() {
  static int argc = 1;
  static char name[] = "imaging_scan_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    UseProjectSaneConfig();
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
  ForceSaneStartFailure(0);
}
