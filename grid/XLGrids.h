#pragma once
// The property model shared by cells, ranges and styles: ten property groups that an object
// either holds itself or inherits along cell -> style -> the section's base style, the packed
// item encodings, the value layer and the cell, row and merged-area classes.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "core/AnsiString.h"
#include "core/Colors.h"
#include "grid/XLCanvas.h"
#include "grid/XLLists.h"
#include "grid/XLManager.h"
#include "grid/XLStream.h"
#include "grid/Variant.h"

class TXLCell;
class TXLRow;
class TXLSection;
class TXLSheet;
class TXLStyle;
class TXLStyler;
class TXLBaseStyle;

// A cell class reference that can also make cells of its class.
class TXLCellClass : public TXLClass {
 public:
  using Factory = std::unique_ptr<TXLCell> (*)();
  TXLCellClass(AnsiString name, const TXLClass* parent, Factory factory)
      : TXLClass(std::move(name), parent), factory_(factory) {}
  std::unique_ptr<TXLCell> Create() const { return factory_ ? factory_() : nullptr; }
  bool Abstract() const { return factory_ == nullptr; }

 private:
  Factory factory_;
};
using TXLEditorClass = TXLClass;
// The cell class of a stream id, nullptr when none is registered under it.
const TXLCellClass* CellClassById(int32_t id);

enum TXLProp : uint8_t {
  prBasedOn,
  prControl,
  prLayout,
  prColor,
  prFont,
  prBorder,
  prFrame,
  prStyles,
  prValue,
  prHint,
};
constexpr int XLPropCount = 10;
using TXLProps = uint16_t;
constexpr TXLProps PropBit(TXLProp p) { return TXLProps(1u << p); }
constexpr TXLProps XLAllProps = 0x03FF;

// Which part of a property changed, or is copied by AssignProp; 0 means all of it.
enum : int {
  pmLayoutHorzAlign = 1, pmLayoutVertAlign = 2, pmLayoutIndent = 4, pmLayoutWrapMode = 8,
  pmControlClass = 1, pmControlEditor = 2, pmControlFormat = 4,
  // Bits 0..3 of a font mask pick the font's style bits.
  pmFontStyleBits = 0x0F, pmFontName = 0x10, pmFontHeight = 0x20, pmFontColor = 0x40, pmFontCharset = 0x80,
};

// What TXLProRange::Clear clears.
enum : int { rcValues = 1, rcFormats = 2, rcHints = 4 };

enum TXLSide : uint8_t { sLeft, sTop, sRight, sBottom, sBias1, sBias2, sHInside, sVInside };
using TXLSides = uint8_t;
constexpr TXLSides SideBit(TXLSide s) { return TXLSides(1u << s); }
constexpr TXLSides XLAllSides = 0xFF;

enum TXLHorzAlign : uint8_t { haLeft, haRight, haCenter };
enum TXLVertAlign : uint8_t { vaTop, vaBottom, vaCenter };
enum TXLWrapMode : uint8_t { wmClip, wmEllipsis, wmWrapWords };
enum TXLFrame : uint8_t { frNone, frFlatUp, frFlatDown, frDeepUp, frDeepDown, frBevelUp, frBevelDown };

enum TXLCellStyle : uint8_t { csHidden, csProtect, csReadOnly, csNotify, csExtHint, csWriteNotify };
using TXLCellStyles = uint8_t;
constexpr TXLCellStyles CellStyleBit(TXLCellStyle s) { return TXLCellStyles(1u << s); }

enum TXLEditStyle : uint8_t { esNormal, esSpinner, esButton, esDropDown };

enum TXLSector : uint8_t { sCols, sRows, sTitle, sClient };
using TXLAxis = TXLSector;  // sCols or sRows only
using TXLAxes = uint8_t;
constexpr TXLAxes AxisBit(TXLAxis a) { return TXLAxes(1u << a); }

// Item numbers of the integer-valued item interface.
enum : int {
  itColor = 8,
  itFrame = 9,
  itStyles = 10,
  itLayout = 11,
  XLItemCount = 12,
};

// A side line: pen width 1..3 and colour; packed into 32 bits with the style in bits 29-30.
struct TXLLine {
  int32_t Style = 0;
  TColor Color = clNone;
  bool operator==(const TXLLine&) const = default;
};
int32_t PackLine(const TXLLine& line);
TXLLine UnpackLine(int32_t packed);
// An item colour as read back: 0 is "no colour", the line-style bits are not colour.
TColor ColorFromItem(int32_t value);

struct TXLLayout {
  TXLHorzAlign HorzAlign = haLeft;
  TXLVertAlign VertAlign = vaTop;
  uint16_t Indent = 0;
  TXLWrapMode WrapMode = wmClip;
  bool operator==(const TXLLayout&) const = default;
};
int32_t PackLayout(const TXLLayout& layout);
TXLLayout UnpackLayout(int32_t packed);

// Which group an item belongs to.
TXLProp ItemProp(int item);

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// The model side of a font; a view maps it to a real one.
class TFont {
 public:
  TFont() = default;
  TFont(const TFont& other) { CopyFrom(other); }
  TFont& operator=(const TFont& other) {
    Assign(other);
    return *this;
  }

  const AnsiString& Name() const { return name_; }
  int32_t Charset() const { return charset_; }
  int32_t Style() const { return style_; }
  int32_t Height() const { return height_; }
  TColor Color() const { return color_; }
  void SetName(const AnsiString& v);
  void SetCharset(int32_t v);
  void SetStyle(int32_t v);
  void SetHeight(int32_t v);
  void SetColor(TColor v);
  void Assign(const TFont& other);
  bool SameAs(const TFont& other) const {
    return name_ == other.name_ && charset_ == other.charset_ && style_ == other.style_ &&
           height_ == other.height_ && color_ == other.color_;
  }

  std::function<void()> OnChange;

 private:
  void CopyFrom(const TFont& other) {
    name_ = other.name_;
    charset_ = other.charset_;
    style_ = other.style_;
    height_ = other.height_;
    color_ = other.color_;
  }
  void Changed() {
    if (OnChange) OnChange();
  }
  AnsiString name_ = "Arial";
  int32_t charset_ = 1;
  int32_t style_ = 0;
  int32_t height_ = -11;
  TColor color_ = clWindowText;
};

// A text most objects leave empty (a cell's own format, its hint): one pointer until set.
class TXLRareText {
 public:
  TXLRareText() = default;
  TXLRareText(const TXLRareText& o) { *this = o; }
  TXLRareText& operator=(const TXLRareText& o) {
    Set(o.Get());
    return *this;
  }
  const AnsiString& Get() const {
    static const AnsiString empty;
    return text_ ? *text_ : empty;
  }
  void Set(const AnsiString& v) {
    if (v.empty()) text_.reset();
    else if (text_) *text_ = v;
    else text_ = std::make_unique<AnsiString>(v);
  }
  bool Empty() const { return !text_; }

 private:
  std::unique_ptr<AnsiString> text_;
};

// State bits of an object.
enum : uint8_t {
  xfLinked = 0x01,       // the cell is the one the open editor shows
  xfRepaint = 0x02,      // a repaint was already requested
  xfForce = 0x08,        // setters always store and notify; the body carries the class id
  xfQuiet = 0x10,        // changes mark nothing and notify nobody
  xfTextStale = 0x20,    // the cached display text must be rebuilt
  xfUnionHead = 0x40,    // the cell heads a merged area
  xfRecalcPending = 0x80,
};

class TXLPersistent {
 public:
  TXLPersistent() = default;
  TXLPersistent(const TXLPersistent&) = delete;
  TXLPersistent& operator=(const TXLPersistent&) = delete;
  virtual ~TXLPersistent();

  virtual void Assign(TXLPersistent* source);
  virtual TXLStyle* GetBasedOn() const { return nullptr; }
  virtual void SetBasedOn(TXLStyle* style) {}
  virtual const TXLCellClass* GetCellClass() const = 0;
  virtual void SetCellClass(const TXLCellClass* cls) {}
  // The item's value; uniform turns false when the positions the object covers (a cell
  // spanning several lines) do not all hold the same value.
  virtual int32_t GetItem(int item, bool& uniform) const = 0;
  virtual void SetItem(int item, int32_t value) = 0;
  virtual void SetLine(TXLSide side, const TXLLine& line);
  virtual void SetLines(TXLSides sides, const TXLLine& line);
  virtual void Changed(TXLProp prop, int mask);
  virtual void AssignProp(TXLPersistent* source, TXLProp prop, int mask);
  virtual TXLPersistent* FindPropOwner(TXLProp prop);
  virtual void ReadData(TXLReader& reader);
  virtual void WriteData(TXLWriter& writer) const;
  virtual AnsiString GetDisplayText() { return {}; }
  // The sheet this object formats, if any (for modified marks and repaints).
  virtual TXLSheet* GetSheet() const { return nullptr; }

  int32_t GetItem(int item) const {
    bool uniform = true;
    return GetItem(item, uniform);
  }
  TXLLine GetLine(TXLSide side) const { return UnpackLine(GetItem(side)); }

  // Properties.
  TColor Color() const { return ColorFromItem(GetItem(itColor)); }
  void SetColor(TColor v) { SetItem(itColor, v); }
  TXLFrame Frame() const { return TXLFrame(GetItem(itFrame)); }
  void SetFrame(TXLFrame v) { SetItem(itFrame, v); }
  TXLCellStyles Styles() const { return TXLCellStyles(GetItem(itStyles)); }
  TXLCellStyles GetStyles() const { return Styles(); }
  void SetStyles(TXLCellStyles v) { SetItem(itStyles, v); }
  TXLSides Sides() const;
  void SetSides(TXLSides sides);
  TXLLayout Layout() const { return UnpackLayout(GetItem(itLayout)); }
  void SetLayout(const TXLLayout& layout);
  TXLHorzAlign HorzAlign() const { return Layout().HorzAlign; }
  void SetHorzAlign(TXLHorzAlign v);
  TXLVertAlign VertAlign() const { return Layout().VertAlign; }
  void SetVertAlign(TXLVertAlign v);
  uint16_t Indent() const { return Layout().Indent; }
  void SetIndent(uint16_t v);
  TXLWrapMode WrapMode() const { return Layout().WrapMode; }
  void SetWrapMode(TXLWrapMode v);

  int32_t Editor() const { return editor_; }
  void SetEditor(int32_t v);
  TXLProps Props() const { return props_; }
  void SetProps(TXLProps v);
  bool HasProp(TXLProp p) const { return (props_ & PropBit(p)) != 0; }
  // Made on first use, named "Arial".
  TFont& Font();
  const TFont& Font() const { return const_cast<TXLPersistent*>(this)->Font(); }
  bool HasFont() const { return font_ != nullptr; }
  const AnsiString& Format() const { return format_.Get(); }
  void SetFormat(const AnsiString& v);
  AnsiString GetFormatMask() const;
  AnsiString GetFormatSuffix() const;
  const TXLEditorClass* GetEditorClass() const;

  uint8_t Flags() const { return flags_; }
  bool HasFlag(uint8_t f) const { return (flags_ & f) != 0; }
  void SetFlag(uint8_t f, bool on) { flags_ = on ? uint8_t(flags_ | f) : uint8_t(flags_ & ~f); }
  bool Forced() const { return HasFlag(xfForce); }
  bool Quiet() const { return HasFlag(xfQuiet); }

  // Pulls one group from whoever holds it, without making it this object's own.
  void Inherit(TXLProp prop, int mask);

 protected:
  void SetPropsRaw(TXLProps v) { props_ = v; }
  void SetEditorRaw(int32_t v) { editor_ = v; }
  void SetFormatRaw(const AnsiString& v) { format_.Set(v); }
  void AssignFontMasked(const TFont& source, int mask);
  virtual void MarkTextStale() {}
  // Stream body parts shared by cells and styles.
  void ReadFont(TXLReader& reader);
  void WriteFont(TXLWriter& writer) const;
  void ReadControl(TXLReader& reader);
  void WriteControl(TXLWriter& writer) const;

 private:
  std::unique_ptr<TFont> font_;
  int32_t editor_ = 0;
  uint8_t flags_ = 0;
  TXLProps props_ = 0;
  TXLRareText format_;
};

// What DrawText needs besides the text.
struct TXLDrawParams {
  IXLCanvas* Canvas = nullptr;
  TXLHorzAlign HorzAlign = haLeft;
  TXLVertAlign VertAlign = vaTop;
  TXLWrapMode WrapMode = wmClip;
};

class TXLValue : public TXLPersistent {
 public:
  virtual void DrawText(const TXLDrawParams& params, TRect rect);

  virtual double GetAsFloat() const;
  virtual TDateTime GetAsDateTime() const;
  virtual int32_t GetAsInteger() const;
  virtual AnsiString GetAsString() const;
  virtual bool GetAsBoolean() const;
  virtual void* GetAsObject() const { return nullptr; }
  virtual int64_t GetAsCurrency() const;
  virtual void GetValue(TXLVariant& v) const { v = TXLVariant(); }
  virtual void SetAsFloat(double v);
  virtual void SetAsDateTime(TDateTime v);
  virtual void SetAsInteger(int32_t v);
  virtual void SetAsString(const AnsiString& v);
  virtual void SetAsBoolean(bool v);
  virtual void SetAsObject(void* v) {}
  virtual void SetAsCurrency(int64_t v);
  virtual void SetValue(const TXLVariant& v);

  TXLVariant Value() const {
    TXLVariant v;
    GetValue(v);
    return v;
  }
  // The display text, rebuilt when out of date.
  const AnsiString& GetText();
  void AssignProp(TXLPersistent* source, TXLProp prop, int mask) override;

 protected:
  void MarkTextStale() override { SetFlag(xfTextStale, true); }

 private:
  AnsiString text_;
};

// Something with a rectangle in a section: a cell, a range, the selection.
class TXLProCell : public TXLValue {
 public:
  virtual TXLSection* GetSection() const = 0;
  virtual TRect GetRect() const = 0;
  virtual void SetRect(const TRect& rect) = 0;
  TXLSheet* GetSheet() const override;

  int32_t Width() const { return GetRect().Width(); }
  int32_t Height() const { return GetRect().Height(); }
  void SetWidth(int32_t w);
  void SetHeight(int32_t h);

  int32_t GetItem(int item, bool& uniform) const override;
  void SetItem(int item, int32_t value) override;
  using TXLPersistent::GetItem;
  void Assign(TXLPersistent* source) override;
  virtual AnsiString GetNamePath() const;
  bool IsSingleCell() const;
};

// A rectangle of one section; changes go to every cell it covers.
class TXLProRange : public TXLProCell {
 public:
  TXLProRange(TXLSection* section, const TRect& rect);
  ~TXLProRange() override;

  TXLSection* GetSection() const override { return section_; }
  TRect GetRect() const override { return rect_; }
  void SetRect(const TRect& rect) override { rect_ = rect; }

  TXLStyle* GetBasedOn() const override;
  void SetBasedOn(TXLStyle* style) override;
  const TXLCellClass* GetCellClass() const override;
  void SetCellClass(const TXLCellClass* cls) override;
  void GetValue(TXLVariant& v) const override;
  void SetValue(const TXLVariant& v) override;
  void Changed(TXLProp prop, int mask) override;
  void Assign(TXLPersistent* source) override;
  virtual bool Merge(bool across);
  virtual bool Clear(int what);

 protected:
  void SetSection(TXLSection* s) { section_ = s; }

 private:
  void ApplyToCells(TXLProp prop, int mask);
  TXLSection* section_;
  TRect rect_;
  TFont prevFont_;
  const TXLCellClass* pendingClass_ = nullptr;
};

// Stand-in for the grid view's selection: a range whose changes are also reported to the
// view through a callback.
class TXLSelection : public TXLProRange {
 public:
  using TXLProRange::TXLProRange;
  std::function<void()> OnChanged;
  void Changed(TXLProp prop, int mask) override;
  void SetLine(TXLSide side, const TXLLine& line) override;
  void SetLines(TXLSides sides, const TXLLine& line) override;
  void SetItem(int item, int32_t value) override;
  bool Merge(bool across) override;
  bool Clear(int what) override;

 private:
  void Tell() {
    if (!Quiet() && OnChanged) OnChanged();
  }
};

// A stored cell of a row. Cell value classes derive from it.
class TXLCell : public TXLProCell {
 public:
  TXLCell();
  ~TXLCell() override;

  // Places a new cell at pos of section (moved to the head of a merged area); called once
  // by the section that made it.
  void Attach(TXLSection* section, TPoint pos);

  TXLSection* GetSection() const override;
  TRect GetRect() const override;
  void SetRect(const TRect& rect) override;
  TXLStyle* GetBasedOn() const override { return basedOn_; }
  void SetBasedOn(TXLStyle* style) override;
  void SetCellClass(const TXLCellClass*) override {}
  void Changed(TXLProp prop, int mask) override;
  void AssignProp(TXLPersistent* source, TXLProp prop, int mask) override;
  TXLPersistent* FindPropOwner(TXLProp prop) override;
  void ReadData(TXLReader& reader) override;
  void WriteData(TXLWriter& writer) const override;

  int32_t Col() const { return col_; }
  int32_t Row() const;
  TXLRow* RowObject() const { return row_; }
  TPoint Pos() const { return TPoint{col_, Row()}; }

  AnsiString Hint() const;
  AnsiString GetHint() const { return Hint(); }
  void SetHint(const AnsiString& text);
  bool GetLinked() const { return HasFlag(xfLinked); }
  void RefreshEditor();
  virtual TSize GetTextExtent(IXLCanvas& canvas);
  // Actions a view runs on a click or key; nothing by default.
  virtual void Execute() {}
  virtual void KeyPress(char& key) {}
  // Drawing of cells that are not plain text; plain text by default.
  virtual void Draw(IXLCanvas& canvas, const TRect& rect);

  // The style index read from a stream, resolved by the section after loading.
  int32_t PendingStyleIndex() const { return pendingStyle_; }
  void DropStyleLink();
  void SetBasedOnRaw(TXLStyle* style) { basedOn_ = style; }

 protected:
  virtual void AfterCreate() {}
  virtual void BeforeDestroy() {}
  // The setters' common rule: an unchanged value is ignored unless csWriteNotify is set.
  bool Unchanged(bool same) const { return same && !(Styles() & CellStyleBit(csWriteNotify)); }
  void ValueStored() {
    MarkTextStale();
    Changed(prValue, 0);
  }
  // Class tail of the stream body.
  virtual void ReadTail(TXLReader& reader) {}
  virtual void WriteTail(TXLWriter& writer) const {}

 private:
  friend class TXLRow;
  friend class TXLSection;
  TXLStyle* basedOn_ = nullptr;
  TXLRow* row_ = nullptr;
  int32_t col_ = 0;
  int32_t pendingStyle_ = -1;
  // Kept with the cell so a freed cell can never leave a stale entry behind.
  TXLRareText hint_;
};

// The cells of one row of a section, by column: a sparse list that owns its cells.
class TXLRow : public TObjectSList<TXLCell> {
 public:
  TXLRow(TXLSection* section, int32_t row) : section_(section), row_(row) {}
  ~TXLRow() override { Clear(); }

  TXLSection* Section() const { return section_; }
  int32_t Row() const { return row_; }
  // Stores cell at col, freeing the cell it replaces; a column the list cannot hold
  // frees the cell instead.
  void Put(int32_t col, std::unique_ptr<TXLCell> cell);
  // Takes the cell out without freeing it.
  std::unique_ptr<TXLCell> Take(int32_t col);
  void Remove(int32_t col) { Take(col).reset(); }
  void Clear() override;
  int32_t CellCount() const;
  // Frees the cells at and beyond col.
  void TruncateFrom(int32_t col);
  bool Clearing() const { return clearing_; }

 protected:
  // Cells moved along the row learn their new columns.
  void Changed(int32_t first, int32_t last) override;

 private:
  TXLSection* section_;
  int32_t row_;
  bool clearing_ = false;
};

// A merged area (right and bottom exclusive, section coordinates) and its head cell.
class TXLUnion {
 public:
  TXLUnion(const TRect& rect, TXLCell* cell) : Rect(rect), Cell(cell) {}
  ~TXLUnion();
  // Clips the area at limit along axis; true when it lies wholly beyond and must go.
  bool Truncate(int axis, int32_t limit);

  TRect Rect;
  TXLCell* Cell;
};

// Rectangle helpers used across the model.
bool RectsIntersect(const TRect& a, const TRect& b);
TRect IntersectRect(const TRect& a, const TRect& b);
bool PointInRect(const TPoint& p, const TRect& r);
