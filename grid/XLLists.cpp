#include "grid/XLLists.h"

#include "grid/XLManager.h"

namespace xllists_detail {

void Corrupt() { throw EXLGridError(SXLStreamCorrupt); }

void NoStreamForm() { throw std::logic_error("object lists are written by their owners"); }

int32_t GetI32(TStream& stream) { return ReadInt(stream); }

// A count of records of at least recordSize bytes each: more than the rest of the stream
// can hold is refused before anything is allocated or looped over.
int32_t ReadCount(TStream& stream, int64_t recordSize) {
  const int32_t n = ReadInt(stream);
  if (n < 0) Corrupt();
  NeedBytes(stream, static_cast<int64_t>(n) * recordSize);
  return n;
}

// The leading byte is written as 0 and read over whatever it holds.
void SkipLeadByte(TStream& stream) { ReadByte(stream); }

int32_t ReadPageNumber(TStream& stream) {
  const int32_t p = ReadInt(stream);
  if (p < 0 || p >= XLMaxPages) Corrupt();
  return p;
}

int32_t ReadSubListIndex(TStream& stream) {
  const int32_t i = ReadInt(stream);
  if (i < 0 || i > XLMaxIndex) Corrupt();
  return i;
}

void ReadPage(TStream& stream, int32_t* slots) {
  NeedBytes(stream, 4 * XLPageSlots);
  for (int i = 0; i < XLPageSlots; ++i) slots[i] = ReadInt(stream);
}

void PutByte(TStream& stream, uint8_t v) { WriteByte(stream, v); }
void PutI32(TStream& stream, int32_t v) { WriteInt(stream, v); }

void WritePage(TStream& stream, const int32_t* slots) {
  for (int i = 0; i < XLPageSlots; ++i) WriteInt(stream, slots[i]);
}

}  // namespace xllists_detail

int32_t TProZeroSList::GetOffset(int32_t n) const {
  if (n < 1) return 0;
  int64_t sum = static_cast<int64_t>(Default()) * n;
  for (int32_t p = 0; p < PageCount(); ++p) {
    const int32_t s = p * XLPageSlots;
    if (s >= n) break;
    const Page* page = PageAt(p);
    if (!page) continue;
    const int32_t upto = std::min(n - s, XLPageSlots);
    for (int32_t i = 0; i < upto; ++i) sum += (*page)[i];
  }
  if (sum > INT32_MAX) return INT32_MAX;
  if (sum < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(sum);
}

int32_t TProZeroSList::FindByOffset(int32_t& offset) const {
  const int64_t def = Default();
  if (offset < 1 || def < 1) {
    offset = 0;
    return 0;
  }
  int64_t r = offset;
  for (int32_t p = 0;; ++p) {
    const int64_t s = static_cast<int64_t>(p) * XLPageSlots;
    const Page* page = p < PageCount() ? PageAt(p) : nullptr;
    if (!page) {
      // An absent page (and every page past the table) holds default-sized lines only.
      if (p < PageCount() && def * XLPageSlots <= r) {
        r -= def * XLPageSlots;
        continue;
      }
      const int64_t index = s + r / def;
      offset = static_cast<int32_t>(offset - r % def);
      return index > INT32_MAX ? INT32_MAX : static_cast<int32_t>(index);
    }
    for (int32_t i = 0; i < XLPageSlots; ++i) {
      const int64_t size = def + (*page)[i];
      r -= size;
      if (r < 0) {
        offset = static_cast<int32_t>(offset - (r + size));
        return static_cast<int32_t>(s + i);
      }
    }
  }
}
