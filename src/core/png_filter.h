// The row filters of PNG pictures, undone: shared by the readers of reference pictures and of
// pictures in movies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace dbx {

// Undoes a row's filter in place, given the row above it (zeros for the first row of a picture
// or of an interlace pass). Filters predict from the byte one whole pixel back (`step`: one byte
// for pixels smaller than that). A filter type the format does not have leaves the bytes as
// they are.
inline void UnfilterPngRow(int filter, std::uint8_t* row, const std::uint8_t* above, std::size_t n,
                           std::size_t step) {
  for (std::size_t i = 0; i < n; ++i) {
    const int a = i >= step ? row[i - step] : 0;
    const int b = above[i];
    const int c = i >= step ? above[i - step] : 0;
    int pred = 0;
    switch (filter) {
      case 1:
        pred = a;
        break;
      case 2:
        pred = b;
        break;
      case 3:
        pred = (a + b) / 2;
        break;
      case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        pred = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
        break;
      }
      default:
        break;
    }
    row[i] = static_cast<std::uint8_t>(row[i] + pred);
  }
}

}  // namespace dbx
