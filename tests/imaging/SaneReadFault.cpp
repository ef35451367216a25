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
}

void ForceSaneReadEnd(int status) { forced = SANE_Status(status); }

extern "C" SANE_Status sane_read(SANE_Handle h, SANE_Byte* buf, SANE_Int max, SANE_Int* len) {
  using Read = SANE_Status (*)(SANE_Handle, SANE_Byte*, SANE_Int, SANE_Int*);
  static const auto real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "sane_read"));
  const SANE_Status st = real(h, buf, max, len);
  return st == SANE_STATUS_EOF && forced != SANE_STATUS_GOOD ? forced : st;
}
