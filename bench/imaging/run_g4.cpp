// Ours as tiffcp -c g4 works, for bench_codecs: run_g4 IN.tif OUT.tif loads a
// page and saves it as Group 4. A program of its own that links only what it
// needs, as the tool does. Like the tool it writes the file in place: the
// program's own saves also flush the new file to disk and rename it over the
// old one, work the tool does not do.
#include <cstdio>

#include "imaging/EnTifGr.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: run_g4 IN.tif OUT.tif\n");
    return 2;
  }
  try {
    TTiffGraphic img;
    img.LoadFromFile(argv[1]);
    TFileStream out(argv[2], fmCreate);
    img.SaveToStream(out);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
