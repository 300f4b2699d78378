#include "refhost/pictures/png/png_row_filters.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <smmintrin.h>
#endif

namespace {

unsigned char paeth_predictor(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Byte by byte: every byte waits for the one a pixel before it.
void unfilter_scalar(png_filter filter, unsigned char* row, const unsigned char* previous,
                     std::size_t row_bytes, std::size_t pixel_bytes) {
  for (std::size_t i = 0; i < row_bytes; ++i) {
    const int a = i >= pixel_bytes ? row[i - pixel_bytes] : 0;
    const int b = previous[i];
    const int c = i >= pixel_bytes ? previous[i - pixel_bytes] : 0;
    int prediction = 0;
    switch (filter) {
      case png_filter::sub:
        prediction = a;
        break;
      case png_filter::average:
        prediction = (a + b) >> 1;
        break;
      case png_filter::paeth:
        prediction = paeth_predictor(a, b, c);
        break;
      default:
        break;
    }
    row[i] = static_cast<unsigned char>(row[i] + prediction);
  }
}

#if defined(__SSE2__)
// Three- and four-byte pixels, the rows of almost every render: a whole
// pixel at a time in one register, so that only pixels wait for each other.
// The pixel size is a constant so that these copies become single moves.
template <std::size_t bytes>
__m128i load_pixel(const unsigned char* at) {
  std::uint32_t value = 0;
  std::memcpy(&value, at, bytes);
  return _mm_cvtsi32_si128(static_cast<int>(value));
}

template <std::size_t bytes>
void store_pixel(unsigned char* at, __m128i pixel) {
  const std::uint32_t value = static_cast<std::uint32_t>(_mm_cvtsi128_si32(pixel));
  std::memcpy(at, &value, bytes);
}

// Two steps deep: each Paeth pixel waits for the one before it.
__m128i absolute_16(__m128i x) {
  return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x));
}

__m128i choose(__m128i condition, __m128i when_set, __m128i otherwise) {
  return _mm_or_si128(_mm_and_si128(condition, when_set), _mm_andnot_si128(condition, otherwise));
}

template <std::size_t pixel_bytes>
void unfilter_pixels(png_filter filter, unsigned char* row, const unsigned char* previous,
                     std::size_t row_bytes) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero;  // the reconstructed pixel to the left, bytes or 16-bit lanes
  __m128i c = zero;  // the pixel above that, 16-bit lanes (Paeth)
  for (std::size_t i = 0; i < row_bytes; i += pixel_bytes) {
    const __m128i x = load_pixel<pixel_bytes>(row + i);
    const __m128i up = load_pixel<pixel_bytes>(previous + i);
    if (filter == png_filter::sub) {
      a = _mm_add_epi8(x, a);
      store_pixel<pixel_bytes>(row + i, a);
    } else if (filter == png_filter::average) {
      // _mm_avg_epu8 rounds up; PNG's average rounds down.
      const __m128i rounded = _mm_avg_epu8(a, up);
      const __m128i mean =
          _mm_sub_epi8(rounded, _mm_and_si128(_mm_xor_si128(a, up), _mm_set1_epi8(1)));
      a = _mm_add_epi8(x, mean);
      store_pixel<pixel_bytes>(row + i, a);
    } else {
      const __m128i b = _mm_unpacklo_epi8(up, zero);
      const __m128i pa = _mm_sub_epi16(b, c);  // p - a, with p = a + b - c
      const __m128i pb = _mm_sub_epi16(a, c);  // p - b
      const __m128i distance_a = absolute_16(pa);
      const __m128i distance_b = absolute_16(pb);
      const __m128i distance_c = absolute_16(_mm_add_epi16(pa, pb));
      const __m128i smallest = _mm_min_epi16(distance_c, _mm_min_epi16(distance_a, distance_b));
      // Ties go to a, then b, then c.
      const __m128i nearest = choose(_mm_cmpeq_epi16(smallest, distance_a), a,
                                     choose(_mm_cmpeq_epi16(smallest, distance_b), b, c));
      // Byte-wise sums wrap modulo 256 and leave each lane's high byte zero.
      a = _mm_add_epi8(_mm_unpacklo_epi8(x, zero), nearest);
      c = b;
      store_pixel<pixel_bytes>(row + i, _mm_packus_epi16(a, a));
    }
  }
}

// Paeth again, with SSE4.1's absolute values and blends where the
// processor has them: a pixel waits about 8 steps for the one before it
// instead of 11, and most rows of rendered pictures are Paeth rows.
template <std::size_t pixel_bytes>
__attribute__((target("sse4.1"))) void unfilter_paeth_sse41(unsigned char* row,
                                                            const unsigned char* previous,
                                                            std::size_t row_bytes) {
  __m128i a = _mm_setzero_si128();  // 16-bit lanes, as c
  __m128i c = _mm_setzero_si128();
  for (std::size_t i = 0; i < row_bytes; i += pixel_bytes) {
    const __m128i x = _mm_cvtepu8_epi16(load_pixel<pixel_bytes>(row + i));
    const __m128i b = _mm_cvtepu8_epi16(load_pixel<pixel_bytes>(previous + i));
    const __m128i pa = _mm_sub_epi16(b, c);
    const __m128i pb = _mm_sub_epi16(a, c);
    const __m128i distance_a = _mm_abs_epi16(pa);
    const __m128i distance_b = _mm_abs_epi16(pb);
    const __m128i distance_c = _mm_abs_epi16(_mm_add_epi16(pa, pb));
    const __m128i not_a = _mm_or_si128(_mm_cmpgt_epi16(distance_a, distance_b),
                                       _mm_cmpgt_epi16(distance_a, distance_c));
    const __m128i b_or_c = _mm_blendv_epi8(b, c, _mm_cmpgt_epi16(distance_b, distance_c));
    a = _mm_add_epi8(x, _mm_blendv_epi8(a, b_or_c, not_a));
    c = b;
    store_pixel<pixel_bytes>(row + i, _mm_packus_epi16(a, a));
  }
}

bool has_sse41() {
  static const bool has = __builtin_cpu_supports("sse4.1");
  return has;
}
#endif

}  // namespace

void unfilter_png_row(png_filter filter, unsigned char* row, const unsigned char* previous,
                      std::size_t row_bytes, std::size_t pixel_bytes) {
  if (filter == png_filter::none)
    return;
  if (previous == nullptr) {
    // Above a pass's first row lies a row of zeros: up adds nothing, and
    // average and Paeth predict from the left neighbour alone.
    if (filter == png_filter::up)
      return;
    if (filter == png_filter::paeth)
      filter = png_filter::sub;
    if (filter == png_filter::average) {
      for (std::size_t i = pixel_bytes; i < row_bytes; ++i)
        row[i] = static_cast<unsigned char>(row[i] + (row[i - pixel_bytes] >> 1));
      return;
    }
    for (std::size_t i = pixel_bytes; i < row_bytes; ++i)
      row[i] = static_cast<unsigned char>(row[i] + row[i - pixel_bytes]);
    return;
  }
  if (filter == png_filter::up) {
    for (std::size_t i = 0; i < row_bytes; ++i)
      row[i] = static_cast<unsigned char>(row[i] + previous[i]);
    return;
  }
#if defined(__SSE2__)
  if (filter == png_filter::paeth && (pixel_bytes == 3 || pixel_bytes == 4) && has_sse41()) {
    (pixel_bytes == 3 ? unfilter_paeth_sse41<3> : unfilter_paeth_sse41<4>)(row, previous,
                                                                           row_bytes);
    return;
  }
  if (pixel_bytes == 3) {
    unfilter_pixels<3>(filter, row, previous, row_bytes);
    return;
  }
  if (pixel_bytes == 4) {
    unfilter_pixels<4>(filter, row, previous, row_bytes);
    return;
  }
#endif
  unfilter_scalar(filter, row, previous, row_bytes, pixel_bytes);
}

void filter_png_row(png_filter filter, const unsigned char* row, const unsigned char* previous,
                    unsigned char* out, std::size_t row_bytes, std::size_t pixel_bytes) {
  if (filter != png_filter::average) {
    std::memcpy(out, row, row_bytes);
    return;
  }
  const std::size_t first = pixel_bytes < row_bytes ? pixel_bytes : row_bytes;
  for (std::size_t i = 0; i < first; ++i)
    out[i] = static_cast<unsigned char>(row[i] - ((previous ? previous[i] : 0) >> 1));
  if (previous == nullptr) {
    for (std::size_t i = first; i < row_bytes; ++i)
      out[i] = static_cast<unsigned char>(row[i] - (row[i - pixel_bytes] >> 1));
    return;
  }
  for (std::size_t i = first; i < row_bytes; ++i)
    out[i] = static_cast<unsigned char>(row[i] - ((row[i - pixel_bytes] + previous[i]) >> 1));
}
