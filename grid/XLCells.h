#pragma once
// The typed cells of a sheet: text, item lists, numbers, currency, dates, check boxes,
// pictures, links, group bars and formulas. Each adds one value, its conversions, its
// display text through the cell's Format, its drawing where it is not plain text and its
// tail in the sheet stream.
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "grid/XLCalc.h"
#include "grid/XLGrids.h"

// Registers the cell classes, their display formats and editor slots once, in the order
// that fixes the indexes stored in sheet streams.
void XLRegisterCellClasses();

extern const TXLCellClass XLCellClass;  // the abstract base
extern const TXLCellClass XLCStringClass, XLCStringsClass, XLCUrlClass, XLCNumberClass, XLCIntegerClass,
    XLCDoubleClass, XLCCurrencyClass, XLCDateTimeClass, XLCBooleanClass, XLCPictureClass, XLCGroupClass,
    XLCFormulaClass;

// Where an object of `size` goes in `rect`: fit from the wrap mode (clip actual size,
// ellipsis scale keeping the aspect, wrap words stretch), then the alignments.
TRect PlaceObject(const TRect& rect, TSize size, TXLHorzAlign ha, TXLVertAlign va, TXLWrapMode fit);

// The number text of the numeric cells: FormatFloat with the mask; a "%" in the mask shows
// the value times 100 with one "%" after it.
AnsiString FormatNumberText(const AnsiString& mask, double value);

class TXLCString : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCStringClass; }
  AnsiString GetAsString() const override { return value_; }
  void SetAsString(const AnsiString& v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant(value_); }
  void SetValue(const TXLVariant& v) override { SetAsString(v.AsString()); }
  AnsiString GetDisplayText() override;

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadString(); }
  void WriteTail(TXLWriter& w) const override { w.WriteString(value_); }

 private:
  AnsiString value_;
};

class TXLCStrings : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCStringsClass; }
  int32_t GetAsInteger() const override { return itemIndex_; }
  void SetAsInteger(int32_t v) override;
  AnsiString GetAsString() const override { return ItemsText(); }
  void SetAsString(const AnsiString& v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant(ItemsText()); }
  void SetValue(const TXLVariant& v) override { SetAsString(v.AsString()); }
  // The items as a list of strings (a std::vector<AnsiString>).
  void* GetAsObject() const override { return const_cast<std::vector<AnsiString>*>(&items_); }
  void SetAsObject(void* v) override;
  AnsiString GetDisplayText() override;

  const std::vector<AnsiString>& Items() const { return items_; }
  int32_t ItemIndex() const { return itemIndex_; }
  const AnsiString& Text() const { return value_; }
  void SetText(const AnsiString& v);
  AnsiString ItemsText() const;

 protected:
  void ReadTail(TXLReader& r) override;
  void WriteTail(TXLWriter& w) const override;

 private:
  void Stored();
  AnsiString value_;
  int32_t itemIndex_ = 0;  // a new list shows its first item
  std::vector<AnsiString> items_;
};

class TXLCUrl : public TXLCString {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCUrlClass; }
  // Opens the link through the shell; only web and mail addresses are ever handed over.
  void Execute() override;
  // The address Execute would open: the text after "|" in Format, else the value.
  AnsiString Link() const;
  static bool IsOpenableLink(const AnsiString& link);
  // How links are opened; the grid window installs the desktop's opener when none is set.
  static std::function<void(const AnsiString&)>& ShellOpen();
};

class TXLCNumber : public TXLCell {
 public:
  AnsiString GetDisplayText() override { return FormatNumberText(GetFormatMask(), GetAsFloat()); }
};

class TXLCInteger : public TXLCNumber {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCIntegerClass; }
  int32_t GetAsInteger() const override { return value_; }
  void SetAsInteger(int32_t v) override;
  double GetAsFloat() const override { return value_; }
  void GetValue(TXLVariant& v) const override { v = TXLVariant(value_); }
  void SetValue(const TXLVariant& v) override { SetAsInteger(v.AsInteger()); }

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadInt(); }
  void WriteTail(TXLWriter& w) const override { w.WriteInt(value_); }

 private:
  int32_t value_ = 0;
};

class TXLCDouble : public TXLCNumber {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCDoubleClass; }
  double GetAsFloat() const override { return value_; }
  void SetAsFloat(double v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant(value_); }
  void SetValue(const TXLVariant& v) override { SetAsFloat(v.AsFloat()); }

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadDouble(); }
  void WriteTail(TXLWriter& w) const override { w.WriteDouble(value_); }
  // Stores the number without touching anything a subclass adds.
  void StoreFloat(double v);
  double RawFloat() const { return value_; }

 private:
  double value_ = 0;
};

class TXLCCurrency : public TXLCNumber {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCCurrencyClass; }
  int64_t GetAsCurrency() const override { return value_; }
  void SetAsCurrency(int64_t v) override;
  double GetAsFloat() const override { return double(value_) / 10000.0; }
  void GetValue(TXLVariant& v) const override { v = TXLVariant::FromCurrency(value_); }
  void SetValue(const TXLVariant& v) override { SetAsCurrency(v.AsCurrency()); }

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadI64(); }
  void WriteTail(TXLWriter& w) const override { w.WriteI64(value_); }

 private:
  int64_t value_ = 0;  // value x 10000
};

class TXLCDateTime : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCDateTimeClass; }
  TDateTime GetAsDateTime() const override { return value_; }
  void SetAsDateTime(TDateTime v) override;
  double GetAsFloat() const override { return value_; }
  void SetAsFloat(double v) override { SetAsDateTime(v); }
  void SetAsString(const AnsiString& v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant::FromDate(value_); }
  void SetValue(const TXLVariant& v) override;
  AnsiString GetDisplayText() override;

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadDouble(); }
  void WriteTail(TXLWriter& w) const override { w.WriteDouble(value_); }

 private:
  TDateTime value_ = 0;
};

class TXLCBoolean : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCBooleanClass; }
  bool GetAsBoolean() const override { return value_; }
  void SetAsBoolean(bool v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant(value_); }
  void SetValue(const TXLVariant& v) override { SetAsBoolean(v.AsBoolean()); }
  AnsiString GetDisplayText() override;
  void Draw(IXLCanvas& canvas, const TRect& rect) override;
  // Toggles, but only where the cell may be edited.
  void Execute() override;
  void KeyPress(char& key) override;
  bool CanEdit() const;

 protected:
  void ReadTail(TXLReader& r) override { value_ = r.ReadInt() != 0; }
  void WriteTail(TXLWriter& w) const override { w.WriteInt(value_ ? 1 : 0); }

 private:
  bool value_ = false;
};

// A picture kept as the graphic's class name and its data, exactly as stored.
struct TXLPicture {
  AnsiString GraphicClass;  // empty: no graphic
  std::string Data;
  bool Empty() const { return GraphicClass.empty(); }
  // Pixel size of the graphic where the data says it (bitmaps), else (0, 0).
  TSize Size() const;
  bool operator==(const TXLPicture&) const = default;
};

class TXLCPicture : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCPictureClass; }
  void GetValue(TXLVariant& v) const override { v = TXLVariant(); }
  void SetValue(const TXLVariant&) override {}
  // The picture (a TXLPicture).
  void* GetAsObject() const override { return const_cast<TXLPicture*>(&picture_); }
  void SetAsObject(void* v) override;
  const TXLPicture& Picture() const { return picture_; }
  void SetPicture(const TXLPicture& p);
  void Draw(IXLCanvas& canvas, const TRect& rect) override;
  TSize GetTextExtent(IXLCanvas& canvas) override;

 protected:
  void ReadTail(TXLReader& r) override;
  void WriteTail(TXLWriter& w) const override;

 private:
  TXLPicture picture_;
};

class TXLCGroup : public TXLCell {
 public:
  const TXLCellClass* GetCellClass() const override { return &XLCGroupClass; }
  bool GetAsBoolean() const override { return value_; }
  void SetAsBoolean(bool v) override;
  void GetValue(TXLVariant& v) const override { v = TXLVariant(value_); }
  void SetValue(const TXLVariant& v) override { SetAsBoolean(v.AsBoolean()); }
  void Draw(IXLCanvas& canvas, const TRect& rect) override;
  TSize GetTextExtent(IXLCanvas& canvas) override;
  void Execute() override { SetAsBoolean(!value_); }
  void KeyPress(char& key) override {
    if (key == ' ') Execute();
  }
  // Shows or hides the lines the bar governs.
  void Apply();

 protected:
  void ReadTail(TXLReader& r) override;
  void WriteTail(TXLWriter& w) const override { w.WriteInt(value_ ? 1 : 0); }

 private:
  bool applying_ = false;
  bool value_ = false;
};

class TXLCFormula : public TXLCDouble {
 public:
  enum : uint8_t { ekNone, ekValue, ekName, ekDivZero, ekCircular };

  const TXLCellClass* GetCellClass() const override { return &XLCFormulaClass; }
  AnsiString GetAsString() const override;
  void SetAsString(const AnsiString& text) override;
  void SetValue(const TXLVariant& v) override;
  void SetAsFloat(double v) override;
  AnsiString GetDisplayText() override;
  virtual void Recalc();

  // Read during an evaluation, the cell evaluates again first (once per pass), so chained
  // formulas are current and a reference back to a cell under evaluation is circular.
  void GetValue(TXLVariant& v) const override;

  const AnsiString& Formula() const { return formula_; }
  uint8_t ErrorKind() const { return errorKind_; }
  static const char* ErrorText(uint8_t kind);
  // The formula read once, again only when the decimal separator changed.
  std::shared_ptr<const TXLFormulaCode> Code();
  // The error of the last evaluation (null without one), and the pass it belongs to.
  const std::exception_ptr& Error() const { return error_; }
  uint32_t EvaluatedPass() const { return pass_; }

 protected:
  void ReadTail(TXLReader& r) override;
  void WriteTail(TXLWriter& w) const override;

 private:
  void SetFormula(AnsiString text);
  uint8_t errorKind_ = ekNone;
  uint32_t pass_ = 0;
  AnsiString formula_;
  std::shared_ptr<const TXLFormulaCode> code_;
  std::exception_ptr error_;
};
