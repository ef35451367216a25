#pragma once
// The bridge from images to the bitmap format module, and the PCX, DCX and
// Targa image classes built on it.
#include "imaging/EnDiGrph.h"

class EBfmError : public Exception {
 public:
  using Exception::Exception;
};
class EDcxError : public Exception {
 public:
  using Exception::Exception;
};
class ETgaError : public Exception {
 public:
  using Exception::Exception;
};

// TypeName ("File.pcx", "File.tga") picks the format; the stream's offsets
// count from its start.
void BfmReadImage(TStream& stream, TDibGraphic& image, const char* typeName, const char* options);
void BfmWriteImage(TStream& stream, const TDibGraphic& image, const char* typeName);

class TPcxGraphic : public TDibGraphic {
 public:
  std::string ClassName() const override { return "TPcxGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TPcxGraphic>(); }
  void SaveToStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;
};

// Up to 1023 PCX pages behind a table of their offsets.
class TDcxGraphic : public TPcxGraphic {
 public:
  static constexpr uint32_t kMagic = 987654321;
  static constexpr int kTableEntries = 1024;
  static constexpr int kFirstPage = 4 + 4 * kTableEntries;

  std::string ClassName() const override { return "TDcxGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TDcxGraphic>(); }
  void SaveToStream(TStream& stream) override;
  int ImageCountInStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;
  void AppendImageToStream(TStream& stream) override;
};

class TTgaGraphic : public TDibGraphic {
 public:
  std::string ClassName() const override { return "TTgaGraphic"; }
  std::unique_ptr<TDibGraphic> Create() const override { return std::make_unique<TTgaGraphic>(); }
  void LoadFromStream(TStream& stream) override;
  void LoadImageFromStream(TStream& stream, int index) override;
  void SaveToStream(TStream& stream) override;
};
