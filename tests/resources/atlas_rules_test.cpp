// Checks the shipped glyph atlas, resources/ascii.tga, against the file
// layout the host's TGA loader expects and the cell layout that text
// placement and compositing rely on. The file is read here byte by byte, with
// no project code, so a fault in the generator cannot hide itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 128;
constexpr int kHeight = 72;
constexpr int kCellW = 8;
constexpr int kCellH = 12;
constexpr size_t kHeaderSize = 18;
constexpr size_t kPixelBytes = size_t{kWidth} * kHeight * 4;
constexpr size_t kFileSize = kHeaderSize + kPixelBytes + 26;

const std::string kCapitalsAndDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const std::string kShortLowerCase = "acemnorsuvwxz";
const std::string kStartInRowZero = "bdfhklij'\"`^$";
const std::string kReachRowTen = "gjpqy,;";
const std::string kFullHeight = "()[]{}|/\\";
// The glyphs that fill the whole cell width; every other one leaves column 7
// blank as the gap between neighbouring characters.
const std::string kWide = "AVW#%&@~_";
// Coverage from this value up is more ink than background.
constexpr int kInk = 8 * 17;

const std::vector<uint8_t>& file_bytes() {
  static const std::vector<uint8_t> bytes = [] {
    std::ifstream in(VELLOQ_SOURCE_DIR "/resources/ascii.tga", std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  return bytes;
}

// Byte offset of pixel (x, y) of the upright picture, row 0 at the top. The
// rows are stored bottom to top, so picture row y is stored row 71 - y.
size_t pixel_offset(int x, int y) {
  return kHeaderSize + (size_t(kHeight - 1 - y) * kWidth + x) * 4;
}

int alpha(int x, int y) {
  return file_bytes()[pixel_offset(x, y) + 3];
}

// Alpha of pixel (col, row) inside the cell of character `c`.
int cell_alpha(int c, int col, int row) {
  const int n = c - 0x20;
  return alpha(kCellW * (n % 16) + col, kCellH * (n / 16) + row);
}

bool row_has_ink(int c, int row) {
  for (int col = 0; col < kCellW; ++col) {
    if (cell_alpha(c, col, row) != 0)
      return true;
  }
  return false;
}

bool col_has_ink(int c, int col) {
  for (int row = 0; row < kCellH; ++row) {
    if (cell_alpha(c, col, row) != 0)
      return true;
  }
  return false;
}

// The rows of the cell that hold any coverage, as a string like "1-8" for
// readable failure messages, or "none".
std::string ink_rows(int c) {
  int first = -1, last = -1;
  for (int row = 0; row < kCellH; ++row) {
    if (row_has_ink(c, row)) {
      if (first < 0)
        first = row;
      last = row;
    }
  }
  if (first < 0)
    return "none";
  return std::to_string(first) + "-" + std::to_string(last);
}

std::string label(int c) {
  return std::string("'") + char(c) + "' rows " + ink_rows(c);
}

class atlas : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every other check indexes into the file; stop here if it is not whole.
    ASSERT_EQ(file_bytes().size(), kFileSize) << "resources/ascii.tga missing or truncated";
  }
};

TEST_F(atlas, HeaderDescribesUncompressedBottomUpBgra) {
  const std::vector<uint8_t> expected = {
      0,   0,   2,         // no id, no colour map, uncompressed true-colour
      0,   0,   0,  0, 0,  // colour-map first entry, length, entry size
      0,   0,   0,  0,     // x and y origin
      128, 0,   72, 0,     // width, height
      32,  0x08};          // bits per pixel; 8 alpha bits, left to right, bottom up
  const std::vector<uint8_t> header(file_bytes().begin(), file_bytes().begin() + kHeaderSize);
  EXPECT_EQ(header, expected);
}

TEST_F(atlas, FooterIsTga2SignatureWithoutExtensions) {
  const std::string signature = "TRUEVISION-XFILE.";
  std::vector<uint8_t> expected(8, 0);  // extension and developer offsets
  expected.insert(expected.end(), signature.begin(), signature.end());
  expected.push_back(0);
  const std::vector<uint8_t> footer(file_bytes().end() - 26, file_bytes().end());
  EXPECT_EQ(footer, expected);
}

TEST_F(atlas, PixelsAreBlackWithCoverageInSixteenAlphaLevels) {
  int bad_colour = 0, bad_alpha = 0;
  std::set<int> levels;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const size_t at = pixel_offset(x, y);
      const auto& b = file_bytes();
      if (b[at] != 0 || b[at + 1] != 0 || b[at + 2] != 0)
        ++bad_colour;
      if (b[at + 3] % 17 != 0)
        ++bad_alpha;
      levels.insert(b[at + 3]);
    }
  }
  EXPECT_EQ(bad_colour, 0) << "pixels with blue, green or red set";
  EXPECT_EQ(bad_alpha, 0) << "alpha values that are not a multiple of 17";
  // Antialiased edges: more than just empty and full coverage is in use.
  EXPECT_GT(levels.size(), 8u);
}

TEST_F(atlas, RowsAreStoredBottomFirst) {
  // The first stored row is picture row 71, row 11 of the bottom cells, which
  // is blank; the last stored row is picture row 0, the top of '"' and '$'.
  auto stored_row_ink = [](int stored) {
    int sum = 0;
    for (int x = 0; x < kWidth; ++x)
      sum += file_bytes()[kHeaderSize + (stored * kWidth + x) * 4 + 3];
    return sum;
  };
  EXPECT_EQ(stored_row_ink(0), 0);
  EXPECT_GT(stored_row_ink(kHeight - 1), 0);
  // The underscore's line, row 9 of its cell (column 15, row 3), is stored
  // as row 71 - 45 = 26 at x 120..127.
  for (int x = 120; x < 128; ++x) {
    EXPECT_EQ(file_bytes()[kHeaderSize + (26 * kWidth + x) * 4 + 3], 255) << "x " << x;
  }
}

TEST_F(atlas, OnlySpaceAndDeleteCellsAreEmpty) {
  for (int c = 0x20; c <= 0x7F; ++c) {
    const bool empty = ink_rows(c) == "none";
    if (c == 0x20 || c == 0x7F) {
      EXPECT_TRUE(empty) << "cell 0x" << std::hex << c << " must be blank";
    } else {
      EXPECT_FALSE(empty) << "glyph '" << char(c) << "' is blank";
    }
  }
}

// The largest coverage of every piece of a glyph: pixels of at least kInk
// coverage that touch at an edge or a corner (a stroke, a dot, a bar).
std::vector<int> piece_peaks(int c) {
  std::vector<int> peaks;
  bool seen[kCellH][kCellW] = {};
  for (int row0 = 0; row0 < kCellH; ++row0) {
    for (int col0 = 0; col0 < kCellW; ++col0) {
      if (seen[row0][col0] || cell_alpha(c, col0, row0) < kInk)
        continue;
      int peak = 0;
      std::vector<std::pair<int, int>> todo{{col0, row0}};
      seen[row0][col0] = true;
      while (!todo.empty()) {
        const auto [col, row] = todo.back();
        todo.pop_back();
        peak = std::max(peak, cell_alpha(c, col, row));
        for (int r = std::max(0, row - 1); r <= std::min(kCellH - 1, row + 1); ++r) {
          for (int k = std::max(0, col - 1); k <= std::min(kCellW - 1, col + 1); ++k) {
            if (!seen[r][k] && cell_alpha(c, k, r) >= kInk) {
              seen[r][k] = true;
              todo.push_back({k, r});
            }
          }
        }
      }
      peaks.push_back(peak);
    }
  }
  return peaks;
}

TEST_F(atlas, EveryStrokeHasAFullyCoveredCore) {
  // Text is drawn at full opacity only where the atlas is at 255: a stroke
  // whose middle stays below that prints translucent, like a faded letter
  // next to the solid stems of its neighbours. Each separate piece counts,
  // so a faint dot or bar is caught even when the rest of its glyph is solid.
  for (int c = 0x21; c <= 0x7E; ++c) {
    int peak = 0;
    for (int row = 0; row < kCellH; ++row) {
      for (int col = 0; col < kCellW; ++col) peak = std::max(peak, cell_alpha(c, col, row));
    }
    EXPECT_EQ(peak, 255) << "'" << char(c) << "' never reaches full coverage";
    const std::vector<int> peaks = piece_peaks(c);
    EXPECT_FALSE(peaks.empty()) << "'" << char(c) << "' has no pixel more than half covered";
    for (int p : peaks) EXPECT_EQ(p, 255) << "a piece of '" << char(c) << "' peaks at " << p;
  }
}

TEST_F(atlas, BottomRowOfEveryCellIsBlankToSeparateLines) {
  for (int c = 0x20; c <= 0x7F; ++c) EXPECT_FALSE(row_has_ink(c, 11)) << label(c);
}

TEST_F(atlas, OnlyTheWideGlyphsReachTheGapColumn) {
  std::set<char> reaching;
  for (int c = 0x20; c <= 0x7F; ++c) {
    if (col_has_ink(c, 7))
      reaching.insert(char(c));
  }
  EXPECT_EQ(reaching, std::set<char>(kWide.begin(), kWide.end()));
}

TEST_F(atlas, CapitalsAndDigitsFillRowsOneToEight) {
  for (char c : kCapitalsAndDigits) {
    EXPECT_FALSE(row_has_ink(c, 0)) << label(c);
    EXPECT_TRUE(row_has_ink(c, 1)) << label(c);
    EXPECT_TRUE(row_has_ink(c, 8)) << label(c);
    if (c == 'Q') {
      EXPECT_TRUE(row_has_ink(c, 9) && row_has_ink(c, 10)) << "the tail of " << label(c);
    } else {
      EXPECT_FALSE(row_has_ink(c, 9) || row_has_ink(c, 10)) << label(c);
    }
  }
}

TEST_F(atlas, ShortLowerCaseFillsTheXHeight) {
  for (char c : kShortLowerCase) EXPECT_EQ(ink_rows(c), "3-8") << "'" << c << "'";
  EXPECT_EQ(ink_rows('t'), "1-8");
}

TEST_F(atlas, AscendersDotsAndAccentsStartInRowZero) {
  for (char c : kStartInRowZero) EXPECT_TRUE(row_has_ink(c, 0)) << label(c);
  // The dots stand apart from the stems.
  for (char c : std::string("ij")) {
    EXPECT_FALSE(row_has_ink(c, 1) && row_has_ink(c, 2)) << "dot of " << label(c);
    EXPECT_TRUE(row_has_ink(c, 3)) << label(c);
  }
}

TEST_F(atlas, DescendersAndCommaTailsReachRowTen) {
  for (char c : kReachRowTen) EXPECT_TRUE(row_has_ink(c, 10)) << label(c);
  for (char c : std::string("gpqy")) EXPECT_FALSE(row_has_ink(c, 2)) << label(c);
}

TEST_F(atlas, BracketsBarAndSlashesSpanTheLine) {
  for (char c : kFullHeight) EXPECT_EQ(ink_rows(c), "0-10") << "'" << c << "'";
}

TEST_F(atlas, UnderscoreIsAFullWidthLineInRowNine) {
  for (int row = 0; row < kCellH; ++row) {
    for (int col = 0; col < kCellW; ++col) {
      EXPECT_EQ(cell_alpha('_', col, row), row == 9 ? 255 : 0) << "col " << col << " row " << row;
    }
  }
}

}  // namespace
