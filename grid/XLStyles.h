#pragma once
// Styles: the two base styles that end every cell's inheritance chain and give the sheet's
// item lists their defaults, and named styles kept by a styler that sheets may share.
#include <functional>
#include <memory>
#include <vector>

#include "grid/XLGrids.h"

class TXLProStyle : public TXLPersistent {
 public:
  TXLProStyle();

  int32_t GetItem(int item, bool& uniform) const override;
  void SetItem(int item, int32_t value) override;
  using TXLPersistent::GetItem;
  const TXLCellClass* GetCellClass() const override { return cellClass_; }
  void SetCellClass(const TXLCellClass* cls) override;
  void ReadData(TXLReader& reader) override;
  void WriteData(TXLWriter& writer) const override;

 protected:
  void SetItemRaw(int item, int32_t value) { items_[item] = value; }

 private:
  int32_t items_[XLItemCount] = {};
  const TXLCellClass* cellClass_;
};

class TXLBaseStyle : public TXLProStyle {
 public:
  TXLBaseStyle(TXLSheet* sheet, bool isClient);

  TXLSheet* GetSheet() const override { return sheet_; }
  bool IsClient() const { return isClient_; }
  void SetItem(int item, int32_t value) override;
  void Changed(TXLProp prop, int mask) override;
  TColor ErrorColor() const { return errorColor_; }
  void SetErrorColor(TColor v);
  TColor LinesColor() const { return linesColor_; }
  void SetLinesColor(TColor v);
  AnsiString GetNamePath() const;
  void ReadData(TXLReader& reader) override;
  void WriteData(TXLWriter& writer) const override;

 private:
  void RepaintSectors();
  TXLSheet* sheet_;
  bool isClient_;
  TColor errorColor_ = 255;
  TColor linesColor_ = 0;
};

class TXLStyle : public TXLProStyle {
 public:
  // Appended to the styler, which owns it.
  explicit TXLStyle(TXLStyler* styler);
  ~TXLStyle() override;

  TXLStyler* Styler() const { return styler_; }
  const AnsiString& Alias() const { return alias_; }
  void SetAlias(const AnsiString& alias);
  int32_t Index() const;
  AnsiString GetNamePath() const;
  void Changed(TXLProp prop, int mask) override;
  void ReadData(TXLReader& reader) override;
  void WriteData(TXLWriter& writer) const override;

 private:
  friend class TXLStyler;
  TXLStyler* styler_;
  AnsiString alias_;
};

class TXLStyler {
 public:
  TXLStyler() = default;
  TXLStyler(const TXLStyler&) = delete;
  TXLStyler& operator=(const TXLStyler&) = delete;
  ~TXLStyler();

  int32_t StyleCount() const { return int32_t(styles_.size()); }
  TXLStyle* Styles(int32_t i) const { return styles_.at(size_t(i)).get(); }
  int32_t SheetCount() const { return int32_t(sheets_.size()); }
  TXLSheet* Sheets(int32_t i) const { return sheets_.at(size_t(i)); }
  TXLStyle* FindByAlias(const AnsiString& name) const;
  TXLStyle* Add();
  // Frees a style: cells based on it lose their style.
  void Delete(TXLStyle* style);

  void Changed();
  bool Modified() const { return modified_; }
  void SetModified(bool v);
  std::function<void()> OnChange;
  std::function<void()> OnModified;
  AnsiString Name = "Styler";

  // The "Styles" property: int32 count, then each style. Reading appends.
  void ReadStyles(TStream& stream);
  void WriteStyles(TStream& stream) const;

  // Sheets enter and leave through their Styler link.
  void AddSheet(TXLSheet* sheet);
  void RemoveSheet(TXLSheet* sheet);

 private:
  friend class TXLStyle;
  std::vector<std::unique_ptr<TXLStyle>> styles_;
  std::vector<TXLSheet*> sheets_;
  bool modified_ = false;
  bool destroying_ = false;
};
