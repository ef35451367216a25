#include "grid/XLLists.h"

#include "grid/XLManager.h"

namespace xllists_detail {

void Corrupt() { throw EXLGridError(SXLStreamCorrupt); }

void NoStreamForm() { throw std::logic_error("object lists are written by their owners"); }

// A count of records of at least recordSize bytes each: more than the rest of what may be
// read can hold is refused before anything is allocated or looped over.
int32_t ReadCount(ByteReader& in, int64_t recordSize) {
  const int32_t n = in.I32();
  if (n < 0) Corrupt();
  if (!in.Has(static_cast<size_t>(n) * static_cast<size_t>(recordSize))) in.Short();
  return n;
}

int32_t ReadPageNumber(ByteReader& in) {
  const int32_t p = in.I32();
  if (p < 0 || p >= XLMaxPages) Corrupt();
  return p;
}

int32_t ReadSubListIndex(ByteReader& in) {
  const int32_t i = in.I32();
  if (i < 0 || i > XLMaxIndex) Corrupt();
  return i;
}

void ReadPage(ByteReader& in, int32_t* slots) {
  if (!in.Has(4 * XLPageSlots)) in.Short();
  for (int i = 0; i < XLPageSlots; ++i) slots[i] = in.I32();
}

void PutByte(TStream& stream, uint8_t v) { WriteByte(stream, v); }
void PutI32(TStream& stream, int32_t v) { WriteInt(stream, v); }

void WritePage(TStream& stream, const int32_t* slots) {
  for (int i = 0; i < XLPageSlots; ++i) WriteInt(stream, slots[i]);
}

}  // namespace xllists_detail

void TCustomSList::LoadFromStream(TStream& stream) {
  ByteReader in(stream, RaiseXLStreamTruncated);
  ReadFrom(in);
}

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
