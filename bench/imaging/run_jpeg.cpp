// Ours as djpeg and cjpeg work, one task per process, for bench_codecs:
//   run_jpeg --load IN.jpg            decode into memory, as the program opens a file
//   run_jpeg --decode IN.jpg OUT.pnm  decode and write the page out
//   run_jpeg --encode IN.pnm OUT.jpg  read a page and write it in place, as cjpeg does
//   run_jpeg --save IN.pnm OUT.jpg    read a page and save it as the program saves
//                                     a file: whole into a new file, flushed to
//                                     disk, then renamed over the old one
// A program of its own that links only what these need, as each tool does.
#include <cstdio>
#include <string>

#include "bench/imaging/BenchPnm.h"
#include "imaging/EnJpgGr.h"

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  try {
    if (argc == 3 && mode == "--load") {
      TJpegGraphic img;
      img.LoadFromFile(argv[2]);
      return 0;
    }
    if (argc == 4 && mode == "--decode") {
      TJpegGraphic img;
      img.LoadFromFile(argv[2]);
      return bench::WritePnm(img, argv[3]) ? 0 : 1;
    }
    if (argc == 4 && mode == "--encode") {
      TJpegGraphic img;
      if (!bench::ReadPnm(argv[2], img)) return 1;
      TFileStream out(argv[3], fmCreate);
      img.SaveToStream(out);
      return 0;
    }
    if (argc == 4 && mode == "--save") {
      TJpegGraphic img;
      if (!bench::ReadPnm(argv[2], img)) return 1;
      img.SaveToFile(argv[3]);
      return 0;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "usage: run_jpeg --load IN | --decode IN OUT | --encode IN OUT | --save IN OUT\n");
  return 2;
}
