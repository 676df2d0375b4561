// Arrays are objects whose elements are ordinary properties named "0", "1", ... (so they keep
// the order they were made in, their flags and their gaps) beside a `length` that storing an
// element beyond it raises. The array methods read and write the stored values directly, without
// getters or prototypes, as the player does.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "swf/avm1/object.h"

namespace dbx::swf::avm1 {

class ArrayObject : public Object {
 public:
  ArrayObject(Heap& heap, Object* proto) : Object(heap, proto, ObjClass::kArray) {}
  bool GetSpecial(Vm& vm, std::string_view name, Value& out) override;
  bool SetSpecial(Vm& vm, std::string_view name, const Value& v) override;
  bool HasSpecial(Vm& vm, std::string_view name) override;

  // "0", "1", ... as an index; nothing for other names ("01", "-1", "x").
  static std::optional<std::size_t> Index(std::string_view name);
  // Shortens the array (elements from `n` on are deleted) or lengthens it.
  void SetLength(Vm& vm, double n);
  // Makes the elements exactly `items` (other properties stay).
  void Fill(const std::vector<Value>& items);

  double length = 0;  // may be negative: new Array(-1)
};

// The name of element `i`.
std::string IndexName(std::size_t i);

// Element access as the array methods do it, for arrays and for other objects used as arrays.
namespace elements {
// The length: an array's own, another object's `length` property.
std::size_t Length(Vm& vm, Object* o);
// The stored value of element `i` (undefined when there is none).
Value Raw(Object* o, std::size_t i);
// Deletes element `i` (unless it cannot be deleted) and stores `v` as a new element; a
// read-only element that stays keeps its value.
void Replace(Vm& vm, Object* o, std::size_t i, const Value& v);
// Stores `v` as element `i` in place (read-only elements keep their value).
void Put(Vm& vm, Object* o, std::size_t i, const Value& v);
void Delete(Vm& vm, Object* o, std::size_t i);
void SetLength(Vm& vm, Object* o, std::size_t n);
// Elements 0 .. length-1 (at most the array limit).
std::vector<Value> All(Vm& vm, Object* o);
// Does what Replace(place, value) for each of `places` in turn and then Delete of each of `drop`
// would do (the values were read before), in one pass over the properties. Every place is named
// once.
void Store(Vm& vm, Object* o, const std::vector<std::pair<std::size_t, Value>>& places,
           const std::vector<std::size_t>& drop = {});
// Makes the elements exactly `items`, each stored anew.
void Assign(Vm& vm, Object* o, const std::vector<Value>& items);
}  // namespace elements

// The sorts of Array.sort and sortOn: they order the places 0 .. n-1 held in `idx`.
namespace sorting {
// A merge sort (stable) that tolerates comparators that are not consistent.
template <class Less>
void MergeSort(std::vector<std::size_t>& idx, Less less) {
  std::vector<std::size_t> tmp(idx.size());
  for (std::size_t width = 1; width < idx.size(); width *= 2) {
    for (std::size_t lo = 0; lo < idx.size(); lo += 2 * width) {
      std::size_t mid = std::min(lo + width, idx.size()), hi = std::min(lo + 2 * width, idx.size());
      std::size_t i = lo, j = mid, k = lo;
      while (i < mid && j < hi) tmp[k++] = less(idx[j], idx[i]) ? idx[j++] : idx[i++];
      while (i < mid) tmp[k++] = idx[i++];
      while (j < hi) tmp[k++] = idx[j++];
    }
    idx.swap(tmp);
  }
}

// The order the player sorts in, which movies can observe through their comparators and through
// the places of elements that compare equal: a quick sort whose pivot is the first element of
// each range; the left scan stops at an element not below the pivot and never passes the right
// end, the right scan stops at one below it, and both resume at the places they swapped. A
// comparator that contradicts itself still ends. Ranges are taken left first. Its worst case is
// quadratic (an array in order), so past a number of comparisons that a sane sort never needs the
// ranges still pending finish with the merge sort. `cmp(x, y)` compares two elements (by their
// first places) as a comparator does; `stop()` ends the sort early (the script was aborted).
template <class Cmp, class Stop>
void PlayerSort(std::vector<std::size_t>& idx, Cmp cmp, Stop stop) {
  std::size_t n = idx.size(), logN = 1;
  while ((std::size_t{1} << logN) < n + 1) ++logN;
  const std::size_t budget = std::max<std::size_t>(4096, 3 * n * logN);
  std::size_t spent = 0;
  std::vector<std::pair<std::size_t, std::size_t>> ranges;  // [lo, hi], the next on top
  if (n > 1) ranges.emplace_back(0, n - 1);
  while (!ranges.empty()) {
    auto [lo, hi] = ranges.back();
    ranges.pop_back();
    if (spent > budget) {
      std::vector<std::size_t> part(idx.begin() + static_cast<std::ptrdiff_t>(lo),
                                    idx.begin() + static_cast<std::ptrdiff_t>(hi + 1));
      MergeSort(part, [&](std::size_t x, std::size_t y) { return cmp(x, y) < 0; });
      std::copy(part.begin(), part.end(), idx.begin() + static_cast<std::ptrdiff_t>(lo));
      continue;
    }
    std::size_t pivot = idx[lo], i = lo + 1, j = hi;
    for (;;) {
      while (i < j && (++spent, cmp(pivot, idx[i]) > 0)) ++i;
      while (j > lo && (++spent, cmp(pivot, idx[j]) <= 0)) --j;
      if (i >= j || stop()) break;
      std::swap(idx[i], idx[j]);
    }
    std::swap(idx[lo], idx[j]);
    if (stop()) return;
    if (j + 1 < hi) ranges.emplace_back(j + 1, hi);
    if (j > lo + 1) ranges.emplace_back(lo, j - 1);
  }
}

}  // namespace sorting

}  // namespace dbx::swf::avm1
