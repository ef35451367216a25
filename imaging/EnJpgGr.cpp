#include "imaging/EnJpgGr.h"

#include <cmath>

#include "core/SysUtils.h"

void TJpegGraphic::LoadImageFromStream(TStream& stream, int) {
  const int64_t inputBytes = stream.Size() - stream.Position();
  TJpegDecompress d(stream);
  d.ReadHeader();
  // Checked before decompression starts: progressive files make libjpeg
  // allocate the whole image's coefficients there.
  const j_decompress_ptr raw = d.Info();
  if (!DecodedSizeFits(int64_t(raw->image_width) * raw->image_height * raw->num_components * 2,
                       inputBytes))
    throw EJpegError("Image too big");
  JpegImageInfo info = d.GetImageInfo();
  // libjpeg-turbo writes our blue, green, red order itself.
  d.SetOutColorSpace(info.colorSpace == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR);
  d.Start();
  info = d.GetImageInfo();
  if (info.components != 1 && info.components != 3)
    throw EJpegError(Format("Invalid number of samples, %d", info.components));
  const int format = info.components == 1 ? ifGray256 : ifTrueColor;
  if (!DecodedSizeFits(BytesPerRow(info.width, ImageFormatBits(format)) * info.height,
                       inputBytes))
    throw EJpegError("Image too big");
  int xDpi = 0, yDpi = 0;
  if (info.densityUnit == 1) {
    xDpi = info.xDensity;
    yDpi = info.yDensity;
  } else if (info.densityUnit == 2) {
    xDpi = int(RoundHalfEven(info.xDensity * 2.54));
    yDpi = int(RoundHalfEven(info.yDensity * 2.54));
  }
  NewImage(info.width, info.height, format, nullptr, xDpi, yDpi);
  // Rows are stored bottom-up, so the top row is the last in memory.
  d.ReadRows(ScanLine(0), -ptrdiff_t(RowBytes()), info.height, false);
  d.Finish();
}

void TJpegGraphic::SaveToStream(TStream& stream) {
  if (ImageFormat() != ifGray256 && ImageFormat() != ifTrueColor)
    throw EJpegError("JPEG image must be gray scale or true color");
  if (IsEmpty()) throw EImagingError("The image is empty");
  const bool grey = ImageFormat() == ifGray256;
  TJpegCompress c(stream);
  c.SetCompressParams(Width(), Height(), grey ? 1 : 3, 1, XDotsPerInch(), YDotsPerInch(),
                      grey ? JCS_GRAYSCALE : JCS_EXT_BGR, Quality, Progressive, OptimizeCoding);
  c.Start();
  c.WriteRows(ScanLine(0), -ptrdiff_t(RowBytes()), Height(), false);
  c.Finish();
}
