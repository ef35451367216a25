#include "imaging/EnFormats.h"

#include "imaging/EnBfm.h"
#include "imaging/EnJpgGr.h"
#include "imaging/EnPngGr.h"
#include "imaging/EnTifGr.h"
#include "imaging/bfm.h"

namespace {
template <typename T>
void Add(const char* extension, const char* description) {
  RegisterGraphicFormat(extension, description, [] { return std::make_unique<T>(); });
}
}  // namespace

void RegisterImagingFormats() {
  static const bool done = [] {
    bfm_init();
    Add<TTiffGraphic>("TIF", "TIFF file");
    Add<TTiffGraphic>("TIFF", "TIFF file");
    Add<TPcxGraphic>("PCX", "ZSoft PC Paintbrush");
    Add<TPcxGraphic>("PCC", "ZSoft PC Paintbrush");
    Add<TDcxGraphic>("DCX", "DCX file");
    Add<TTgaGraphic>("TGA", "Truevision Targa");
    Add<TTgaGraphic>("VST", "Truevision Vista");
    Add<TTgaGraphic>("AFI", "Truevision Targa");
    Add<TJpegGraphic>("JPG", "JPEG");
    Add<TJpegGraphic>("JPEG", "JPEG");
    Add<TPngGraphic>("PNG", "Portable Network Graphic");
    return true;
  }();
  (void)done;
}
