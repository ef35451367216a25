#include "grid/XLLists.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <utility>
#include <vector>

#include "grid/XLManager.h"
#include "grid/XLStream.h"

namespace {

// Records the Changed notifications the structural operations send.
class RecordingList : public TSList {
 public:
  std::vector<std::pair<int32_t, int32_t>> changes;

 protected:
  void Changed(int32_t first, int32_t last) override { changes.emplace_back(first, last); }
};

// A map with the semantics the sparse list promises.
struct Model {
  std::map<int32_t, int32_t> v;
  int32_t count = 0;

  int32_t Last() const { return v.empty() ? -1 : v.rbegin()->first; }
  void Put(int32_t i, int32_t x) {
    if (i < 0 || i > XLMaxIndex) return;
    if (x == 0)
      v.erase(i);
    else
      v[i] = x;
  }
  void Insert(int32_t index, int32_t x) {
    if (index < 0 || index > XLMaxIndex) return;
    std::map<int32_t, int32_t> n;
    for (auto [k, val] : v)
      if (k < index)
        n[k] = val;
      else if (k + 1 <= XLMaxIndex)
        n[k + 1] = val;
    v = std::move(n);
    Put(index, x);
  }
  void Delete(int32_t index) {
    if (index < 0 || index > Last()) return;
    std::map<int32_t, int32_t> n;
    for (auto [k, val] : v)
      if (k < index)
        n[k] = val;
      else if (k > index)
        n[k - 1] = val;
    v = std::move(n);
  }
  void Shift(int32_t index, int32_t delta) {
    for (; delta > 0 && index >= 0 && index <= Last(); --delta) Insert(index, 0);
    for (; delta < 0 && index >= 0 && index <= Last(); ++delta) Delete(index);
  }
  void SetCount(int32_t n) {
    count = n;
    v.erase(v.lower_bound(std::max(n, 0)), v.end());
    if (n < 0) v.clear();
  }
};

void ExpectSame(const TSList& list, const Model& m, int step) {
  ASSERT_EQ(list.Last(), m.Last()) << "step " << step;
  ASSERT_EQ(list.Count(), m.count) << "step " << step;
  std::map<int32_t, int32_t> seen;
  list.ForEach([&](int32_t i, int32_t x) {
    seen[i] = x;
    return 0;
  });
  ASSERT_EQ(seen, m.v) << "step " << step;
  for (auto [k, x] : m.v) ASSERT_EQ(list.Get(k), x) << "step " << step;
}

std::string Saved(const TCustomSList& list) {
  TMemoryStream s;
  list.SaveToStream(s);
  return s.Data();
}

std::string Bytes(std::initializer_list<int32_t> ints, bool leadByte = true) {
  std::string out;
  if (leadByte) out.push_back('\0');
  for (int32_t v : ints)
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF));
  return out;
}

}  // namespace

TEST(SparseList, MatchesAMapModelOverRandomOperations) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 20; ++round) {
    TSList list;
    Model model;
    // Dense and sparse index ranges both, near the top of the index space too.
    const int32_t base = round % 5 == 4 ? XLMaxIndex - 60 : 0;
    const int32_t span = round % 2 ? 70 : 400;
    for (int step = 0; step < 400; ++step) {
      const int32_t i = base + static_cast<int32_t>(rng() % span) - (rng() % 20 == 0 ? base + 3 : 0);
      const int32_t x = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 1000) - 500;
      switch (rng() % 7) {
        case 0:
        case 1:
        case 2:
          list.Put(i, x);
          model.Put(i, x);
          break;
        case 3:
          list.Insert(i, x);
          model.Insert(i, x);
          break;
        case 4:
          list.Delete(i);
          model.Delete(i);
          break;
        case 5: {
          const int32_t d = static_cast<int32_t>(rng() % 7) - 3;
          list.Shift(i, d);
          model.Shift(i, d);
          break;
        }
        default: {
          const int32_t n = base + static_cast<int32_t>(rng() % (span + 10));
          list.SetCount(n);
          model.SetCount(n);
          break;
        }
      }
      ExpectSame(list, model, step);
      if (HasFatalFailure()) return;
    }
    // Whatever state the operations left, the stream form reproduces it.
    TSList copy;
    TMemoryStream s(Saved(list));
    copy.LoadFromStream(s);
    ExpectSame(copy, model, -1);
    EXPECT_EQ(Saved(copy), Saved(list));
  }
}

TEST(SparseList, StoresOnlyWhatIsNonZero) {
  TSList list;
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Get(7), 0);
  EXPECT_EQ(list.Get(-1), 0);
  list.Put(3, 0);
  EXPECT_EQ(list.PageCount(), 0);

  list.Put(100000, 5);
  EXPECT_EQ(list.Get(100000), 5);
  EXPECT_EQ(list.Last(), 100000);
  EXPECT_EQ(list.PageCount(), 6251);
  EXPECT_EQ(list.PresentPages(), 1);

  list.Put(20, 7);
  list.Put(100000, 0);
  EXPECT_EQ(list.Last(), 20);
  list.Put(20, 0);
  EXPECT_EQ(list.Last(), -1);
  EXPECT_TRUE(list.IsEmpty());

  // Past the last page a 16-bit page count can name, writes are refused, not wrapped.
  list.Put(XLMaxIndex + 1, 9);
  list.Put(-5, 9);
  EXPECT_TRUE(list.IsEmpty());
  list.Put(XLMaxIndex, 9);
  EXPECT_EQ(list.Get(XLMaxIndex), 9);
}

TEST(SparseList, InsertAndDeleteReportTheMovedRange) {
  RecordingList list;
  for (int i = 0; i < 4; ++i) list.Put(i, i + 1);
  list.Insert(2, 9);
  EXPECT_EQ((std::vector<int32_t>{list.Get(0), list.Get(1), list.Get(2), list.Get(3), list.Get(4)}),
            (std::vector<int32_t>{1, 2, 9, 3, 4}));
  EXPECT_EQ(list.changes, (std::vector<std::pair<int32_t, int32_t>>{{3, 4}, {2, 2}}));

  RecordingList three;
  for (int i = 0; i < 3; ++i) three.Put(i, i + 1);
  three.Delete(0);
  EXPECT_EQ(three.Get(0), 2);
  EXPECT_EQ(three.Get(1), 3);
  EXPECT_EQ(three.Last(), 1);
  EXPECT_EQ(three.changes, (std::vector<std::pair<int32_t, int32_t>>{{0, 2}}));
}

TEST(SparseList, ZeroListOffsetsFollowSizes) {
  TZeroSList sizes;
  sizes.SetDefault(60);
  sizes.Put(3, 0);  // a hidden line
  EXPECT_EQ(sizes.Get(3), 0);
  EXPECT_EQ(sizes.Get(2), 60);
  EXPECT_EQ(sizes.GetOffset(5), 240);
  EXPECT_EQ(sizes.GetOffset(0), 0);
  EXPECT_EQ(sizes.GetOffset(40), 39 * 60);

  int32_t offset = 130;
  EXPECT_EQ(sizes.FindByOffset(offset), 2);
  EXPECT_EQ(offset, 120);
  offset = 180;  // where the hidden line starts: the next line is found
  EXPECT_EQ(sizes.FindByOffset(offset), 4);
  EXPECT_EQ(offset, 180);
  offset = 60 * 100 + 7;  // far past the stored pages
  EXPECT_EQ(sizes.FindByOffset(offset), 101);
  EXPECT_EQ(offset, 60 * 100);
  offset = 0;
  EXPECT_EQ(sizes.FindByOffset(offset), 0);

  // A new default drops the entries.
  sizes.SetDefault(20);
  EXPECT_TRUE(sizes.IsEmpty());
  EXPECT_EQ(sizes.Get(3), 20);
}

TEST(SparseList, DefListKeepsExplicitValuesAcrossDefaultChanges) {
  TDefSList list;
  list.SetDefault(7);
  list.Put(4, 7);
  EXPECT_TRUE(list.IsEmpty());
  list.Put(4, 0);
  EXPECT_EQ(list.TSList::Get(4), 1);  // stored as value + 1
  EXPECT_EQ(list.Get(4), 0);
  list.SetDefault(9);
  EXPECT_EQ(list.Get(4), 0);
  EXPECT_EQ(list.Get(5), 9);
  list.Put(6, INT32_MAX);  // wraps instead of overflowing
  EXPECT_EQ(list.Get(6), INT32_MAX);
}

namespace {
struct Counted : TCustomSList {
  static int alive;
  Counted() { ++alive; }
  ~Counted() override { --alive; }
  void ReadFrom(ByteReader&) override {}
  void SaveToStream(TStream&) const override {}
  void Clear() override {}
  bool IsEmpty() const override { return true; }
};
int Counted::alive = 0;
}  // namespace

TEST(SparseList, ObjectListsOwnTheirObjects) {
  {
    TObjectSList<Counted> list;
    for (int i = 0; i < 6; ++i) list.Put(i, new Counted);
    list.SetCount(3);
    EXPECT_EQ(Counted::alive, 3);
    EXPECT_EQ(list.Last(), 2);
    list.Shift(0, -1);  // dropping a line frees its object
    EXPECT_EQ(Counted::alive, 2);
    list.Put(XLMaxIndex, new Counted);
    list.Insert(0, new Counted);  // the top object cannot move up: freed, not leaked
    EXPECT_EQ(Counted::alive, 3);
  }
  EXPECT_EQ(Counted::alive, 0);
}

TEST(SparseList, ListOfListsCreatesOnDemandAndStreamsNonEmptyItems) {
  TListSList<TSList> lists;
  EXPECT_EQ(lists.GetList(-1), nullptr);
  lists.GetList(2)->Put(5, 11);
  lists.GetList(9);  // created, stays empty: not written
  lists.GetList(40)->Put(0, -3);
  const std::string bytes = Saved(lists);
  std::string expected = Bytes({2, 2}, false) + Bytes({0, 1, 0, 0, 0, 0, 0, 0, 11}) + std::string(40, '\0');
  expected += Bytes({40}, false) + Bytes({0, 1, 0, -3}) + std::string(60, '\0');
  EXPECT_EQ(bytes, expected);

  TListSList<TSList> back;
  TMemoryStream s(bytes);
  back.LoadFromStream(s);
  EXPECT_EQ(back.GetList(2)->Get(5), 11);
  EXPECT_EQ(back.GetList(40)->Get(0), -3);
  EXPECT_EQ(Saved(back), bytes);
}

TEST(SparseListStream, ExactBytesAndTolerantLeadByte) {
  TSList list;
  list.SetCount(40);
  list.Put(1, 0x01020304);
  list.Put(33, -1);
  const std::string bytes = Saved(list);
  std::string page0(64, '\0');
  page0.replace(4, 4, "\x04\x03\x02\x01", 4);
  std::string page2(64, '\0');
  page2.replace(4, 4, "\xff\xff\xff\xff", 4);
  EXPECT_EQ(bytes, Bytes({40, 2, 0}) + page0 + Bytes({2}, false) + page2);

  std::string odd = bytes;
  odd[0] = '\x7f';
  TSList back;
  TMemoryStream s(odd);
  back.LoadFromStream(s);
  EXPECT_EQ(back.Count(), 40);
  EXPECT_EQ(back.Get(1), 0x01020304);
  EXPECT_EQ(back.Get(33), -1);
  EXPECT_EQ(back.Last(), 33);
}

TEST(SparseListStream, PagesInAnyOrderKeepTheHighestValue) {
  std::string page(64, '\0');
  page[0] = 5;
  const std::string bytes = Bytes({0, 2, 3}) + page + Bytes({1}, false) + page;
  TSList list;
  TMemoryStream s(bytes);
  list.LoadFromStream(s);
  EXPECT_EQ(list.Last(), 48);
  EXPECT_EQ(list.Get(48), 5);
  EXPECT_EQ(list.Get(16), 5);
}

TEST(SparseListStream, HostileInputRaisesTheFormatError) {
  TSList list;
  list.Put(3, 1);
  list.Put(70, 2);
  const std::string good = Saved(list);
  for (size_t cut = 0; cut < good.size(); ++cut) {
    TSList target;
    TMemoryStream s(good.substr(0, cut));
    EXPECT_THROW(target.LoadFromStream(s), EXLGridError) << "cut at " << cut;
  }
  const std::vector<std::string> bad = {
      Bytes({-1, 0}),                                    // negative count
      Bytes({0, -1}),                                    // negative page count
      Bytes({0, 0x7fffffff}),                            // more pages than bytes
      Bytes({0, 1, 65535}) + std::string(64, '\0'),      // page past the index limit
      Bytes({0, 1, -2}) + std::string(64, '\0'),         // negative page
  };
  for (const auto& b : bad) {
    TSList target;
    TMemoryStream s(b);
    EXPECT_THROW(target.LoadFromStream(s), EXLGridError);
  }
  TListSList<TSList> lists;
  TMemoryStream negIndex(Bytes({1, -4}, false) + Bytes({0, 0}));
  EXPECT_THROW(lists.LoadFromStream(negIndex), EXLGridError);
  TMemoryStream hugeCount(Bytes({0x40000000}, false));
  EXPECT_THROW(lists.LoadFromStream(hugeCount), EXLGridError);
}

TEST(SparseListStream, MutatedStreamsLoadOrRaiseTheFormatError) {
  TListSList<TDefSList> lists;
  for (int32_t r = 0; r < 40; r += 3) lists.GetList(r)->Put(r * 7, r + 1);
  const std::string good = Saved(lists);
  std::mt19937 rng(99);
  for (int round = 0; round < 3000; ++round) {
    std::string bad = good;
    for (int k = 0; k < 1 + round % 4; ++k) bad[rng() % bad.size()] = static_cast<char>(rng());
    TListSList<TDefSList> target;
    TMemoryStream s(bad);
    try {
      target.LoadFromStream(s);
    } catch (const EXLGridError&) {
      continue;
    }
    // What loaded is a consistent list: it saves and loads back to the same bytes.
    const std::string again = Saved(target);
    TListSList<TDefSList> copy;
    TMemoryStream t(again);
    copy.LoadFromStream(t);
    ASSERT_EQ(Saved(copy), again) << "round " << round;
  }
}

TEST(SparseListStream, ALoadBrokenOffPartWayKeepsTheListAndItsInvariant) {
  // A page whose first slot is empty, then a page number out of range: the reader stops
  // after the first page was read.
  std::string page(64, '\0');
  page[12] = 15;
  const std::vector<std::string> broken = {
      Bytes({40, 2, 2}) + page + Bytes({70000}, false) + std::string(64, '\0'),
      Bytes({40, 2, 2}) + page + Bytes({-1}, false) + std::string(64, '\0'),
  };
  for (const std::string& b : broken) {
    TZeroSList sizes;
    sizes.SetDefault(15);
    sizes.SetCount(5);
    sizes.Put(1, 25);
    TMemoryStream s(b);
    EXPECT_THROW(sizes.LoadFromStream(s), EXLGridError);
    EXPECT_EQ(sizes.Count(), 5);
    EXPECT_EQ(sizes.Last(), 1);
    EXPECT_EQ(sizes.Get(1), 25);
    EXPECT_EQ(sizes.Get(35), 15);
    // Used to loop for ever when Last named an empty slot.
    sizes.SetCount(0);
    EXPECT_TRUE(sizes.IsEmpty());
    sizes.Put(7, 30);
    EXPECT_EQ(sizes.Last(), 7);
  }
}

TEST(SparseListStream, ListsOfListsBoundThePageTablesAStreamMakes) {
  // Each record is one page at the highest page number: a few bytes asking for a full
  // page table every time, also under one repeated index.
  for (bool sameIndex : {false, true}) {
    const int32_t n = int32_t(XLStreamPageTableBudget / XLMaxPages) + 2;
    std::string b = Bytes({n}, false);
    for (int32_t k = 0; k < n; ++k)
      b += Bytes({sameIndex ? 0 : k}, false) + Bytes({0, 1, XLMaxPages - 1}) + std::string(64, '\1');
    TListSList<TSList> lists;
    TMemoryStream s(b);
    EXPECT_THROW(lists.LoadFromStream(s), EXLGridError);
  }
  // A modest stream with high pages still loads.
  TListSList<TSList> lists;
  for (int32_t k = 0; k < 8; ++k) lists.GetList(k)->Put(XLMaxIndex, k + 1);
  TListSList<TSList> back;
  TMemoryStream s(Saved(lists));
  back.LoadFromStream(s);
  EXPECT_EQ(back.GetList(7)->Get(XLMaxIndex), 8);
}

TEST(SparseListStream, AListInsideABlockReadsOnlyItsBlock) {
  TSList list;
  list.Put(20, 9);
  const std::string form = Saved(list);
  // The block's size stops one byte short of the list's last page; what follows the block
  // would let a stream-bounded read finish.
  const int32_t size = int32_t(4 + form.size() - 1);
  TMemoryStream s(Bytes({size}, false) + form + "tail");
  TXLReader r(s);
  TSList target;
  EXPECT_FALSE(r.ReadBlock([&] { target.ReadFrom(r.In()); }));
  EXPECT_EQ(r.Pos(), size);  // reading goes on at the block's end
  EXPECT_EQ(target.Last(), -1);
  // The whole form inside its block loads.
  TMemoryStream whole(Bytes({int32_t(4 + form.size())}, false) + form);
  TXLReader w(whole);
  EXPECT_TRUE(w.ReadBlock([&] { target.ReadFrom(w.In()); }));
  EXPECT_EQ(target.Get(20), 9);
}
