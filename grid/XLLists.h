#pragma once
// Sparse integer-indexed lists: the storage under every sheet. Values live in pages of 16
// slots that exist only where something non-zero was written, so a sheet can address row
// 60000 while holding ten cells. One template over the slot type serves both the value
// lists (32-bit slots, which is also their stream form) and the object lists (pointer
// slots, so they can own objects on a 64-bit build).
#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "core/ByteIO.h"
#include "core/Streams.h"

// Pages are numbered by a 16-bit count in the stored form; indexes past the last page it
// can name are refused rather than wrapped.
constexpr int32_t XLPageSlots = 16;
constexpr int32_t XLMaxPages = 65535;
constexpr int32_t XLMaxIndex = XLPageSlots * XLMaxPages - 1;  // 1,048,559
// Page-table entries one stream may make in all its lists.
constexpr int64_t XLStreamPageTableBudget = int64_t(8) << 20;

// What a list of sub-lists needs from its items, whatever their slot type.
class TCustomSList {
 public:
  virtual ~TCustomSList() = default;
  // Reads the list's stored form; every read is bounded by the reader's limit, so a list
  // inside a block cannot read past the block.
  virtual void ReadFrom(ByteReader& in) = 0;
  // The same, from the stream's position to its end.
  void LoadFromStream(TStream& stream);
  virtual void SaveToStream(TStream& stream) const = 0;
  virtual void Clear() = 0;
  virtual bool IsEmpty() const = 0;
  // Entries of the page table, for bounding what a stream may make.
  virtual int32_t PageCount() const { return 0; }
};

// Checked readers shared by the list stream forms (defined in XLLists.cpp).
namespace xllists_detail {
int32_t ReadCount(ByteReader& in, int64_t recordSize);
int32_t ReadPageNumber(ByteReader& in);
int32_t ReadSubListIndex(ByteReader& in);
void ReadPage(ByteReader& in, int32_t* slots);
void PutByte(TStream& stream, uint8_t v);
void PutI32(TStream& stream, int32_t v);
void WritePage(TStream& stream, const int32_t* slots);
[[noreturn]] void Corrupt();
[[noreturn]] void NoStreamForm();
// Stored values wrap like the 32-bit integers they are, never overflow.
inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
}  // namespace xllists_detail

template <typename Slot>
class TSListT : public TCustomSList {
  static_assert(std::is_same_v<Slot, int32_t> || std::is_pointer_v<Slot>);

 public:
  using SlotType = Slot;
  using Page = std::array<Slot, XLPageSlots>;

  TSListT() = default;
  TSListT(const TSListT&) = delete;
  TSListT& operator=(const TSListT&) = delete;
  ~TSListT() override { ReleasePages(); }

  int32_t Count() const { return count_; }
  int32_t Last() const { return last_; }
  int32_t PageCount() const override { return static_cast<int32_t>(pages_.size()); }
  int32_t PresentPages() const {
    int32_t n = 0;
    for (const auto& p : pages_) n += p != nullptr;
    return n;
  }
  bool IsEmpty() const override { return last_ < 0; }

  Slot Get(int32_t index) const {
    if (index < 0 || index > last_) return Slot{};
    if (index == cacheIndex_) return cacheValue_;
    Slot v = RawSlot(index);
    cacheIndex_ = index;
    cacheValue_ = v;
    return v;
  }

  void Put(int32_t index, Slot value) {
    if (index < 0 || index > XLMaxIndex) return;
    if (value == Slot{} && Get(index) == Slot{}) {
      // Clearing an empty slot changes nothing, unless Last wrongly names it.
      if (index == last_) RecomputeLast(last_);
      return;
    }
    Slot& slot = MakeSlot(index);
    slot = value;
    if (value == Slot{}) RecomputeLast(last_);
  }

  // Calls callback(index, value) for every non-zero slot in ascending order; the first
  // non-zero answer stops the walk and is returned.
  int32_t ForEach(const std::function<int32_t(int32_t, Slot)>& callback) const {
    for (size_t p = 0; p < pages_.size(); ++p) {
      if (!pages_[p]) continue;
      for (int32_t i = 0; i < XLPageSlots; ++i) {
        Slot v = (*pages_[p])[i];
        if (v == Slot{}) continue;
        if (int32_t r = callback(static_cast<int32_t>(p) * XLPageSlots + i, v)) return r;
      }
    }
    return 0;
  }

  // Calls f(index, value) for every non-zero slot of from..to in ascending order.
  template <class F>
  void ForEachIn(int32_t from, int32_t to, F&& f) const {
    from = std::max(from, 0);
    to = std::min(to, last_);
    for (int32_t p = from / XLPageSlots; from <= to && p <= to / XLPageSlots && p < PageCount(); ++p) {
      const Page* page = pages_[static_cast<size_t>(p)].get();
      if (!page) continue;
      const int32_t s = p * XLPageSlots;
      const int32_t lo = std::max(from - s, 0), hi = std::min(to - s, XLPageSlots - 1);
      for (int32_t i = lo; i <= hi; ++i)
        if ((*page)[i] != Slot{}) f(s + i, (*page)[i]);
    }
  }

  void Insert(int32_t index, Slot value) {
    if (index < 0 || index > XLMaxIndex) return;
    // A value pushed past the last index cannot be stored; release it instead of leaking.
    if (last_ == XLMaxIndex && index <= last_) {
      const Slot top = Get(XLMaxIndex);
      Put(XLMaxIndex, Slot{});
      FreeItem(top);
    }
    for (int32_t i = last_ + 1; i > index; --i) Put(i, Get(i - 1));
    Put(index, value);
    Changed(index + 1, last_);
    Changed(index, index);
  }

  // The deleted value is not freed here; Shift frees what it drops.
  void Delete(int32_t index) {
    if (index < 0 || index > last_) return;
    const int32_t oldLast = last_;
    for (int32_t i = index; i <= oldLast; ++i) Put(i, Get(i + 1));
    Changed(index, oldLast);
  }

  // Inserts (delta > 0) or removes (delta < 0) whole lines at index.
  void Shift(int32_t index, int32_t delta) {
    if (index < 0) return;
    for (; delta > 0; --delta) {
      if (index > last_) return;  // nothing above to move
      Insert(index, Slot{});
    }
    for (; delta < 0; ++delta) {
      if (index > last_) return;
      // Freed once it is out of the list, so nothing finds it half destroyed.
      const Slot dropped = Get(index);
      Delete(index);
      FreeItem(dropped);
    }
  }

  void SetCount(int32_t n) {
    count_ = n;
    // Every round lowers Last, whatever the slot it names holds, so this always ends.
    while (last_ >= 0 && last_ >= n) {
      const int32_t top = last_;
      const Slot v = RawSlot(top);
      if (v != Slot{}) MakeSlot(top) = Slot{};
      RecomputeLast(top - 1);
      // Freed once it can no longer be reached through the list.
      if (v != Slot{}) FreeItem(v);
    }
  }

  void Clear() override {
    ReleasePages();
    last_ = -1;
    cacheIndex_ = -1;
  }

  void SaveToStream(TStream& stream) const override {
    if constexpr (std::is_same_v<Slot, int32_t>) {
      using namespace xllists_detail;
      PutByte(stream, 0);
      PutI32(stream, count_);
      PutI32(stream, PresentPages());
      for (size_t p = 0; p < pages_.size(); ++p) {
        if (!pages_[p]) continue;
        PutI32(stream, static_cast<int32_t>(p));
        WritePage(stream, pages_[p]->data());
      }
    } else {
      xllists_detail::NoStreamForm();
    }
  }

  void ReadFrom(ByteReader& in) override {
    if constexpr (std::is_same_v<Slot, int32_t>) {
      using namespace xllists_detail;
      // Read aside and take it over only when complete: a stream that breaks off part
      // way leaves the list as it was.
      in.U8();  // the leading byte is written as 0 and read over whatever it holds
      const int32_t count = in.I32();
      if (count < 0) Corrupt();
      const int32_t pages = ReadCount(in, 4 + 4 * XLPageSlots);
      std::vector<std::unique_ptr<Page>> loaded;
      for (int32_t k = 0; k < pages; ++k) {
        const size_t p = static_cast<size_t>(ReadPageNumber(in));
        if (p >= loaded.size()) loaded.resize(p + 1);
        if (!loaded[p]) loaded[p] = std::make_unique<Page>();
        ReadPage(in, loaded[p]->data());
      }
      Clear();
      pages_ = std::move(loaded);
      count_ = count;
      // Pages may arrive in any order and hold zeros; look down from the top.
      RecomputeLast(PageCount() * XLPageSlots - 1);
    } else {
      xllists_detail::NoStreamForm();
    }
  }

 protected:
  // Notified when the values of indexes first..last moved.
  virtual void Changed(int32_t first, int32_t last) {}
  // Releases what a slot owns; value lists own nothing.
  virtual void FreeItem(Slot value) {}

  const Page* PageAt(int32_t p) const {
    return p >= 0 && static_cast<size_t>(p) < pages_.size() ? pages_[p].get() : nullptr;
  }
  // Raw slot access without touching the read cache.
  Slot RawSlot(int32_t index) const {
    const size_t p = static_cast<size_t>(index / XLPageSlots);
    if (p >= pages_.size() || !pages_[p]) return Slot{};
    return (*pages_[p])[index % XLPageSlots];
  }

 private:
  Slot& MakeSlot(int32_t index) {
    const size_t p = static_cast<size_t>(index / XLPageSlots);
    if (p >= pages_.size()) pages_.resize(p + 1);
    if (!pages_[p]) pages_[p] = std::make_unique<Page>();  // value-initialised: zeros
    if (index > last_) last_ = index;
    cacheIndex_ = -1;
    return (*pages_[p])[index % XLPageSlots];
  }

  // Lowers Last to the highest non-zero slot not above `from`, scanning down.
  void RecomputeLast(int32_t from) {
    cacheIndex_ = -1;
    for (int32_t i = from; i >= 0; --i) {
      const size_t p = static_cast<size_t>(i / XLPageSlots);
      if (p >= pages_.size() || !pages_[p]) {
        i = static_cast<int32_t>(p) * XLPageSlots;  // skip the absent page
        continue;
      }
      if ((*pages_[p])[i % XLPageSlots] != Slot{}) {
        last_ = i;
        return;
      }
    }
    last_ = -1;
  }

  void ReleasePages() {
    pages_.clear();
    pages_.shrink_to_fit();
  }

  std::vector<std::unique_ptr<Page>> pages_;
  int32_t last_ = -1;
  mutable int32_t cacheIndex_ = -1;
  mutable Slot cacheValue_{};
  int32_t count_ = 0;
};

// Raw 32-bit values.
using TSList = TSListT<int32_t>;

// Values stored as deltas from Default, so a value equal to Default takes no page.
class TProZeroSList : public TSList {
 public:
  int32_t Default() const { return default_; }
  virtual void SetDefault(int32_t value) { default_ = value; }

  int32_t Get(int32_t index) const { return xllists_detail::WrapAdd(TSList::Get(index), default_); }
  void Put(int32_t index, int32_t value) {
    TSList::Put(index, xllists_detail::WrapSub(value, default_));
  }

  // Sum of the values of indexes 0 .. n-1: the pixel position of line n.
  int32_t GetOffset(int32_t n) const;
  // The index whose span contains offset; offset becomes the start of that span.
  int32_t FindByOffset(int32_t& offset) const;

 private:
  int32_t default_ = 0;
};

// A changed Default drops every entry (sizes of columns or rows).
class TZeroSList : public TProZeroSList {
 public:
  void SetDefault(int32_t value) override {
    TProZeroSList::SetDefault(value);
    Clear();
  }
};

// Values with an explicit "unset": slot 0 reads as Default, any other slot as raw - 1.
// A changed Default moves only the unset entries.
class TDefSList : public TProZeroSList {
 public:
  int32_t Get(int32_t index) const {
    const int32_t raw = TSList::Get(index);
    return raw == 0 ? Default() : xllists_detail::WrapSub(raw, 1);
  }
  void Put(int32_t index, int32_t value) {
    TSList::Put(index, value == Default() ? 0 : xllists_detail::WrapAdd(value, 1));
  }
};

// Slots own the objects they point to.
template <class T>
class TObjectSList : public TSListT<T*> {
 public:
  ~TObjectSList() override { FreeAll(); }
  void Clear() override {
    FreeAll();
    TSListT<T*>::Clear();
  }

 protected:
  void FreeItem(T* value) override { delete value; }

 private:
  void FreeAll() {
    // Collect first: freeing an item may call back into the list.
    std::vector<T*> items;
    this->ForEach([&](int32_t, T* v) {
      items.push_back(v);
      return 0;
    });
    TSListT<T*>::Clear();
    for (T* v : items) FreeItem(v);
  }
};

// Slots hold sub-lists made on demand by GetList.
template <class T>
  requires std::derived_from<T, TCustomSList>
class TListSList : public TObjectSList<T> {
 public:
  using ItemClass = std::function<std::unique_ptr<T>()>;

  explicit TListSList(ItemClass itemClass = [] { return std::make_unique<T>(); })
      : itemClass_(std::move(itemClass)) {}

  // The sub-list at index, created when absent. Indexes outside the list give nullptr,
  // since a list made there could not be stored and would be lost.
  T* GetList(int32_t index) {
    if (index < 0 || index > XLMaxIndex) return nullptr;
    if (T* item = this->Get(index)) return item;
    std::unique_ptr<T> made = itemClass_();
    T* item = made.release();
    this->Put(index, item);
    ItemCreated(item, index);
    return item;
  }

  // N, then for each non-empty sub-list in index order its index and its own form.
  void SaveToStream(TStream& stream) const override {
    using namespace xllists_detail;
    int32_t n = 0;
    this->ForEach([&](int32_t, T* item) {
      n += !item->IsEmpty();
      return 0;
    });
    PutI32(stream, n);
    this->ForEach([&](int32_t index, T* item) {
      if (item->IsEmpty()) return 0;
      PutI32(stream, index);
      item->SaveToStream(stream);
      return 0;
    });
  }

  // Adds to what the list holds; it does not clear it first.
  void ReadFrom(ByteReader& in) override {
    using namespace xllists_detail;
    // The smallest sub-list record is its index and an empty list form (9 bytes).
    const int32_t n = ReadCount(in, 4 + 9);
    // A sub-list's page table grows to its highest page, so a few bytes per sub-list
    // could ask for a large table each; what one stream makes in all is bounded.
    int64_t tables = 0;
    for (int32_t k = 0; k < n; ++k) {
      const int32_t index = ReadSubListIndex(in);
      T* item = GetList(index);
      item->ReadFrom(in);
      // Charged even when an index repeats: each load made its table anew.
      tables += item->PageCount();
      if (tables > XLStreamPageTableBudget) Corrupt();
    }
  }

 protected:
  virtual void ItemCreated(T* item, int32_t index) {}

 private:
  ItemClass itemClass_;
};
