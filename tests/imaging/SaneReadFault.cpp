// Linked into the scanning tests: stands in front of libsane's sane_read and sane_start so a
// test can make a page end, or a page's start fail, in a status of its choosing. The test backend's own forced status is returned
// while its reader thread is still starting; the cancel that follows kills that thread
// asynchronously, and it can die holding the allocator's lock and freeze the process. Here
// the page is read to its end first, so nothing is running when the scan is cancelled.
#include <dlfcn.h>
#include <sane/sane.h>

#include "SaneTestSupport.h"

namespace {
SANE_Status forced = SANE_STATUS_GOOD;
int pagesBefore = 0;  // pages (frames) that still end as read
SANE_Status startFails = SANE_STATUS_GOOD;
int startsBefore = 0;
int starts = 0;
}

int SaneStarts() { return starts; }

void ForceSaneStartFailure(int status, int afterStarts) {
  startFails = SANE_Status(status);
  startsBefore = afterStarts;
}

extern "C" SANE_Status sane_start(SANE_Handle h) {
  using Start = SANE_Status (*)(SANE_Handle);
  static const auto real = reinterpret_cast<Start>(dlsym(RTLD_NEXT, "sane_start"));
  ++starts;
  if (startFails == SANE_STATUS_GOOD || startsBefore-- > 0) return real(h);
  return startFails;
}

void ForceSaneReadEnd(int status, int afterPages) {
  forced = SANE_Status(status);
  pagesBefore = afterPages;
}

extern "C" SANE_Status sane_read(SANE_Handle h, SANE_Byte* buf, SANE_Int max, SANE_Int* len) {
  using Read = SANE_Status (*)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
  static const auto real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "sane_read"));
  const SANE_Status st = real(h, buf, max, len);
  if (st != SANE_STATUS_EOF || forced == SANE_STATUS_GOOD) return st;
  if (pagesBefore > 0) {
    --pagesBefore;
    return st;
  }
  return forced;
}
