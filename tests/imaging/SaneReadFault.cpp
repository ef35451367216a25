// Linked into the scanning tests: stands in front of libsane's sane_read so a test can make
// a page end in a status of its choosing. The test backend's own forced status is returned
// while its reader thread is still starting; the cancel that follows kills that thread
// asynchronously, and it can die holding the allocator's lock and freeze the process. Here
// the page is read to its end first, so nothing is running when the scan is cancelled.
#include <dlfcn.h>
#include <sane/sane.h>

#include "SaneTestSupport.h"

namespace {
SANE_Status forced = SANE_STATUS_GOOD;
int pagesBefore = 0;  // pages (frames) that still end as read
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
