#pragma once
// PNG's five row filters. Each byte of a filtered row is stored as the
// difference from a prediction made of its left neighbour (a, one pixel
// back), the byte above (b) and the one above that neighbour (c).

#include <cstddef>

enum class png_filter : unsigned char { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

// Undoes `filter` in place. `previous` is the row above, already
// reconstructed, or null for a pass's first row; `pixel_bytes` is the
// bytes per pixel, at least 1 (packed samples count as 1).
void unfilter_png_row(png_filter filter, unsigned char* row, const unsigned char* previous,
                      std::size_t row_bytes, std::size_t pixel_bytes);

// Writes `row` filtered with `filter` to `out` (row_bytes, no filter byte).
// `previous` as above. Only none and average: what the writer uses.
void filter_png_row(png_filter filter, const unsigned char* row, const unsigned char* previous,
                    unsigned char* out, std::size_t row_bytes, std::size_t pixel_bytes);
