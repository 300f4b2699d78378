// make_atlas: builds the glyph atlas that the plug-in burns its report with.
//
// The atlas is a 128 x 72 TGA holding the 96 codes 0x20..0x7F as a 16 x 6 grid
// of 8 x 12 cells; the glyph shapes live in the alpha channel only.
//
// Method: every glyph is rasterised from DejaVu Sans Mono with FreeType's
// classic (v35) TrueType bytecode interpreter at 11 pixels per em. At that size
// the font's own hinting snaps the cap height to 8 pixels, the x-height to 6
// and most stems to one fully covered pixel column, which is exactly the grid
// the report text is laid out on. The antialiased coverage is then darkened
// so that every stroke has a fully covered core (see kFullFrom and
// fill_piece_cores) and rounded to 16 levels. A short rule file
// (glyph_fixes.txt) then adjusts the glyphs whose hinted shape misses the cell
// layout: brackets that must span the whole line, quotes that must start on
// the top row, wide glyphs that fill the cell, glyphs that spill into the
// inter-character gap.
//
// The output depends only on the font file, the rule file and the FreeType
// interpreter, so running the tool again gives the same bytes; a ctest
// compares a fresh run against the committed resources/ascii.tga.
//
// Usage: make_atlas OUTPUT.tga [--preview OUT.png] [--font FONT.ttf]
//                   [--fixes RULES.txt] [--dump]
//   --preview  also writes a PNG for looking at the result: the atlas
//              magnified x6 on a cell checkerboard, and sample text at 1:1 and
//              x3, white on dark and black on bright, as the report draws it.
//   --dump     prints every glyph as the rule file's grid text, to start a
//              hand-drawn replacement from.

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_MODULE_H
#include FT_DRIVER_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#ifndef MAKE_ATLAS_FONT
#define MAKE_ATLAS_FONT "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
#endif
#ifndef MAKE_ATLAS_FIXES
#define MAKE_ATLAS_FIXES "tools/atlas/glyph_fixes.txt"
#endif

namespace {

constexpr int kCellW = 8;
constexpr int kCellH = 12;
constexpr int kGridCols = 16;
constexpr int kGridRows = 6;
constexpr int kWidth = kCellW * kGridCols;   // 128
constexpr int kHeight = kCellH * kGridRows;  // 72
constexpr int kFirstCode = 0x20;
constexpr int kCodes = kGridCols * kGridRows;  // 0x20..0x7F
// Cell row just below the baseline: capitals sit on rows 1..8, descenders use
// rows 9 and 10, and row 11 stays blank to separate report lines.
constexpr int kBaselineRow = 9;
constexpr double kPixelsPerEm = 11.0;
// A one-pixel stroke that does not fall on the pixel grid (a diagonal, the
// flank of a bowl) spreads its ink over two pixels, so the antialiased
// outline never covers any pixel of it completely: the cores of "o", "0", "S"
// or "X" come out at 83 to 96 % and would print translucent next to the solid
// stems. Coverage from this fraction up is taken as the inside of a stroke and
// made full (after rounding to 16 levels, from about 82 %); everything below
// is scaled by the same factor, so all diagonals and curves are darkened alike
// and their edges keep their shape in proportion to the core.
constexpr double kFullFrom = 0.85;
// Pixels from this level up are more ink than background; touching ones
// (at edges or corners) form one piece of a glyph: a stroke, a dot, a bar.
constexpr int kInkLevel = 8;

// Coverage of one cell in 16 levels, 0 (empty) to 15 (full).
using Cell = std::array<std::array<int, kCellW>, kCellH>;

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what);
}

std::string describe(int code) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "'%c' (0x%02X)", code, code);
  return buf;
}

// Coverage of one cell as a fraction 0..1, before it is rounded to levels.
using Ink = std::array<std::array<double, kCellW>, kCellH>;

int level_of(double ink) {
  return static_cast<int>(std::lround(ink * 15));
}

// A piece thinner than a pixel even at its middle, such as the bar of the
// percent sign or the dot inside the zero, is still translucent after the
// stroke-core correction. Each piece is scaled so that its darkest pixel is
// full; pieces that already have a full pixel are left as they are, and the
// faint edge pixels around a piece keep their coverage.
void fill_piece_cores(Ink& ink) {
  std::array<std::array<bool, kCellW>, kCellH> seen{};
  for (int y0 = 0; y0 < kCellH; ++y0) {
    for (int x0 = 0; x0 < kCellW; ++x0) {
      if (seen[y0][x0] || level_of(ink[y0][x0]) < kInkLevel)
        continue;
      std::vector<std::pair<int, int>> piece{{x0, y0}};
      seen[y0][x0] = true;
      double darkest = 0;
      for (size_t i = 0; i < piece.size(); ++i) {
        const auto [x, y] = piece[i];
        darkest = std::max(darkest, ink[y][x]);
        for (int ny = std::max(0, y - 1); ny <= std::min(kCellH - 1, y + 1); ++ny) {
          for (int nx = std::max(0, x - 1); nx <= std::min(kCellW - 1, x + 1); ++nx) {
            if (!seen[ny][nx] && level_of(ink[ny][nx]) >= kInkLevel) {
              seen[ny][nx] = true;
              piece.push_back({nx, ny});
            }
          }
        }
      }
      for (const auto& [x, y] : piece) ink[y][x] /= darkest;
    }
  }
}

// ---------------------------------------------------------------------------
// Rule file

// One adjustment of one glyph. Every rule names the glyphs it applies to as
// its first word: each character of that word is one glyph.
struct Rule {
  std::string op;
  std::vector<double> args;
  Cell grid{};  // for "grid"
  int line = 0;
};

struct Fixes {
  std::map<int, std::vector<Rule>> rules;  // by character code, in file order
};

int level_from_char(char ch) {
  if (ch == '.')
    return 0;
  if (ch >= '1' && ch <= '9')
    return ch - '0';
  if (ch >= 'a' && ch <= 'f')
    return ch - 'a' + 10;
  return -1;
}

char char_from_level(int level) {
  return level == 0 ? '.' : "0123456789abcdef"[level];
}

// Format, one rule per line, '#' at the start of a line for comments:
//   CHARS size X Y        rasterise at X by Y pixels per em instead of 11 x 11
//   CHARS shift DX DY     move the glyph right by DX and down by DY pixels
//   CHARS repeat ROW      duplicate row ROW, pushing the rows below it down
//   CHARS drop ROW        remove row ROW, pulling the rows above it down
//   CHARS erase X Y W H   clear a rectangle of the cell
//   CHARS grid            replace the glyph by the 12 lines of 8 levels that
//                         follow ('.' for 0, then 1..9 and a..f for 15)
// "size" is applied when rasterising; the other rules run in file order.
Fixes read_fixes(const std::string& path) {
  std::ifstream in(path);
  if (!in)
    fail("cannot open rule file " + path);
  Fixes fixes;
  std::string line;
  int number = 0;
  auto where = [&](int n) { return path + ":" + std::to_string(n) + ": "; };
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream words(line);
    std::string chars;
    Rule rule;
    rule.line = number;
    if (!(words >> chars >> rule.op)) {
      if (chars.empty())
        continue;  // blank but for spaces
      fail(where(number) + "expected CHARS OP [ARGS]");
    }
    for (double v; words >> v;) rule.args.push_back(v);
    if (!words.eof())
      fail(where(number) + "bad argument");
    const std::map<std::string, size_t> arity = {{"size", 2}, {"shift", 2}, {"repeat", 1},
                                                 {"drop", 1}, {"erase", 4}, {"grid", 0}};
    auto it = arity.find(rule.op);
    if (it == arity.end())
      fail(where(number) + "unknown rule '" + rule.op + "'");
    if (rule.args.size() != it->second)
      fail(where(number) + "wrong argument count");
    if (rule.op == "grid") {
      for (int y = 0; y < kCellH; ++y) {
        std::string row;
        ++number;
        if (!std::getline(in, row))
          fail(where(number) + "grid cut short");
        while (!row.empty() && (row.back() == ' ' || row.back() == '\r')) row.pop_back();
        if (static_cast<int>(row.size()) != kCellW)
          fail(where(number) + "grid row needs 8 levels");
        for (int x = 0; x < kCellW; ++x) {
          rule.grid[y][x] = level_from_char(row[x]);
          if (rule.grid[y][x] < 0)
            fail(where(number) + "bad level '" + row[x] + "'");
        }
      }
    }
    for (unsigned char c : chars) {
      if (c <= 0x20 || c >= 0x7F)
        fail(where(rule.line) + "rules apply to 0x21..0x7E only");
      fixes.rules[c].push_back(rule);
    }
  }
  return fixes;
}

// ---------------------------------------------------------------------------
// Rasterising

class Font {
 public:
  explicit Font(const std::string& path) {
    if (FT_Init_FreeType(&library_) != 0)
      fail("FreeType does not start");
    // The classic interpreter applies the font's hinting in both directions;
    // the newer default one hints vertically only and leaves stems blurred
    // across two pixel columns at this size.
    FT_UInt interpreter = TT_INTERPRETER_VERSION_35;
    if (FT_Property_Set(library_, "truetype", "interpreter-version", &interpreter) != 0) {
      fail("this FreeType has no v35 TrueType interpreter");
    }
    if (FT_New_Face(library_, path.c_str(), 0, &face_) != 0)
      fail("cannot open font " + path);
    const std::string family = face_->family_name ? face_->family_name : "";
    const std::string style = face_->style_name ? face_->style_name : "";
    if (family != "DejaVu Sans Mono" || style != "Book") {
      fail(path + " is " + family + " " + style + ", not DejaVu Sans Mono Book");
    }
  }
  ~Font() {
    FT_Done_Face(face_);
    FT_Done_FreeType(library_);
  }
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // Renders `code` with its origin at the left edge of the cell on the
  // baseline. Coverage that falls outside the cell is an error: it would be
  // cut off silently otherwise.
  Cell render(int code, double ppem_x, double ppem_y) {
    const auto to26_6 = [](double v) { return static_cast<FT_F26Dot6>(std::lround(v * 64)); };
    if (FT_Set_Char_Size(face_, to26_6(ppem_x), to26_6(ppem_y), 72, 72) != 0 ||
        FT_Load_Char(face_, code, FT_LOAD_TARGET_NORMAL | FT_LOAD_NO_AUTOHINT) != 0 ||
        FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_NORMAL) != 0) {
      fail("cannot render " + describe(code));
    }
    const FT_GlyphSlot slot = face_->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    Ink ink{};
    for (unsigned row = 0; row < bitmap.rows; ++row) {
      for (unsigned col = 0; col < bitmap.width; ++col) {
        const double stroke =
            std::min(1.0, bitmap.buffer[row * bitmap.pitch + col] / 255.0 / kFullFrom);
        if (level_of(stroke) == 0)
          continue;
        const int x = slot->bitmap_left + static_cast<int>(col);
        const int y = kBaselineRow - slot->bitmap_top + static_cast<int>(row);
        if (x < 0 || x >= kCellW || y < 0 || y >= kCellH) {
          fail(describe(code) + " does not fit its cell; add a rule for it");
        }
        ink[y][x] = stroke;
      }
    }
    fill_piece_cores(ink);
    Cell cell{};
    for (int y = 0; y < kCellH; ++y) {
      for (int x = 0; x < kCellW; ++x) cell[y][x] = level_of(ink[y][x]);
    }
    return cell;
  }

 private:
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
};

// ---------------------------------------------------------------------------
// Adjustments

void apply(const Rule& rule, int code, Cell& cell) {
  const auto arg = [&](size_t i) { return static_cast<int>(std::lround(rule.args[i])); };
  const auto lost = [&](const std::string& why) {
    fail("rule on line " + std::to_string(rule.line) + " " + why + " of " + describe(code));
  };
  if (rule.op == "grid") {
    cell = rule.grid;
  } else if (rule.op == "shift") {
    Cell moved{};
    for (int y = 0; y < kCellH; ++y) {
      for (int x = 0; x < kCellW; ++x) {
        if (cell[y][x] == 0)
          continue;
        const int nx = x + arg(0), ny = y + arg(1);
        if (nx < 0 || nx >= kCellW || ny < 0 || ny >= kCellH)
          lost("pushes pixels out");
        moved[ny][nx] = cell[y][x];
      }
    }
    cell = moved;
  } else if (rule.op == "repeat") {
    const int at = arg(0);
    if (at < 0 || at >= kCellH - 1)
      lost("names a bad row");
    for (int x = 0; x < kCellW; ++x) {
      if (cell[kCellH - 1][x] != 0)
        lost("pushes the bottom row out");
    }
    for (int y = kCellH - 1; y > at; --y) cell[y] = cell[y - 1];
  } else if (rule.op == "drop") {
    const int at = arg(0);
    if (at < 0 || at >= kCellH)
      lost("names a bad row");
    for (int y = at; y > 0; --y) cell[y] = cell[y - 1];
    cell[0] = {};
  } else if (rule.op == "erase") {
    for (int y = arg(1); y < arg(1) + arg(3); ++y) {
      for (int x = arg(0); x < arg(0) + arg(2); ++x) {
        if (x < 0 || x >= kCellW || y < 0 || y >= kCellH)
          lost("reaches outside the cell");
        cell[y][x] = 0;
      }
    }
  }
}

std::vector<Cell> build_glyphs(Font& font, const Fixes& fixes) {
  // Space and 0x7F stay empty: 0x7F is never drawn and has no shape.
  std::vector<Cell> glyphs(kCodes, Cell{});
  for (int code = 0x21; code <= 0x7E; ++code) {
    static const std::vector<Rule> kNone;
    const auto found = fixes.rules.find(code);
    const std::vector<Rule>& rules = found == fixes.rules.end() ? kNone : found->second;
    double ppem_x = kPixelsPerEm, ppem_y = kPixelsPerEm;
    const Rule* first = nullptr;
    for (const Rule& r : rules) {
      if (r.op == "size") {
        ppem_x = r.args[0];
        ppem_y = r.args[1];
      } else if (!first) {
        first = &r;
      }
    }
    // A glyph drawn by hand from the start needs no outline (and its outline
    // may not even fit the cell).
    Cell cell = first && first->op == "grid" ? Cell{} : font.render(code, ppem_x, ppem_y);
    for (const Rule& r : rules) {
      if (r.op != "size")
        apply(r, code, cell);
    }
    glyphs[code - kFirstCode] = cell;
  }
  return glyphs;
}

// ---------------------------------------------------------------------------
// Output

// Alpha of the upright picture, row 0 at the top.
std::vector<uint8_t> compose(const std::vector<Cell>& glyphs) {
  std::vector<uint8_t> alpha(kWidth * kHeight, 0);
  for (int n = 0; n < kCodes; ++n) {
    const int left = kCellW * (n % kGridCols), top = kCellH * (n / kGridCols);
    for (int y = 0; y < kCellH; ++y) {
      for (int x = 0; x < kCellW; ++x) {
        alpha[(top + y) * kWidth + left + x] = static_cast<uint8_t>(glyphs[n][y][x] * 17);
      }
    }
  }
  return alpha;
}

void put16(std::vector<uint8_t>& out, int v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

// Uncompressed 32-bit true-colour TGA 2.0, rows stored bottom to top, colour
// black and the coverage in alpha; closed by the TGA 2.0 footer without
// extension area or developer directory.
std::vector<uint8_t> encode_tga(const std::vector<uint8_t>& alpha) {
  std::vector<uint8_t> out;
  out.push_back(0);  // no image id
  out.push_back(0);  // no colour map
  out.push_back(2);  // uncompressed true-colour
  put16(out, 0);     // colour map: first entry, length, entry size
  put16(out, 0);
  out.push_back(0);
  put16(out, 0);  // x and y origin
  put16(out, 0);
  put16(out, kWidth);
  put16(out, kHeight);
  out.push_back(32);    // bits per pixel
  out.push_back(0x08);  // 8 alpha bits; bits 4 and 5 clear: left to right, bottom up
  for (int y = kHeight - 1; y >= 0; --y) {
    for (int x = 0; x < kWidth; ++x) {
      out.insert(out.end(), {0, 0, 0, alpha[y * kWidth + x]});  // B, G, R, A
    }
  }
  for (int i = 0; i < 8; ++i) out.push_back(0);  // extension and directory offsets
  const char signature[] = "TRUEVISION-XFILE.";
  out.insert(out.end(), signature, signature + sizeof signature);  // with its NUL
  return out;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush())
    fail("cannot write " + path);
}

// Grey-level RGB canvas for the preview.
struct Canvas {
  int w, h;
  std::vector<uint8_t> rgb;
  Canvas(int width, int height, uint8_t grey)
      : w(width), h(height), rgb(static_cast<size_t>(width) * height * 3, grey) {}
  void fill(int x0, int y0, int x1, int y1, uint8_t grey) {
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) blend(x, y, grey, 1.0);
    }
  }
  void blend(int x, int y, uint8_t grey, double a) {
    if (x < 0 || y < 0 || x >= w || y >= h)
      return;
    uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
    for (int i = 0; i < 3; ++i) p[i] = static_cast<uint8_t>(p[i] + (grey - p[i]) * a);
  }
};

// Draws text much like the report: a one-pixel outline in the background
// colour at half opacity, then the glyphs in the text colour.
void draw_text(Canvas& c, const std::vector<uint8_t>& alpha, const std::string& text, int left,
               int top, int scale, uint8_t ink, uint8_t outline) {
  for (int pass = 0; pass < 2; ++pass) {
    int x0 = left, y0 = top;
    for (unsigned char ch : text) {
      if (ch == '\n') {
        x0 = left;
        y0 += kCellH * scale;
        continue;
      }
      const int n = ch - kFirstCode;
      for (int y = 0; y < kCellH; ++y) {
        for (int x = 0; x < kCellW; ++x) {
          const int a =
              alpha[(kCellH * (n / kGridCols) + y) * kWidth + kCellW * (n % kGridCols) + x];
          if (a == 0)
            continue;
          for (int dy = pass == 0 ? -1 : 0; dy <= (pass == 0 ? 1 : 0); ++dy) {
            for (int dx = pass == 0 ? -1 : 0; dx <= (pass == 0 ? 1 : 0); ++dx) {
              if (pass == 0 && dx == 0 && dy == 0)
                continue;
              const double opacity = pass == 0 ? 0.5 * a / 255 : a / 255.0;
              for (int sy = 0; sy < scale; ++sy) {
                for (int sx = 0; sx < scale; ++sx) {
                  c.blend(x0 + (x + dx) * scale + sx, y0 + (y + dy) * scale + sy,
                          pass == 0 ? outline : ink, opacity);
                }
              }
            }
          }
        }
      }
      x0 += kCellW * scale;
    }
  }
}

void write_preview(const std::string& path, const std::vector<uint8_t>& alpha) {
  constexpr int kZoom = 6;
  const std::string sample =
      "Vorlen 4.3.0 (Build 4312) Windows x86\n"
      "Windows 10 Pro (64-bit) Build 19045\n"
      "Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz\n"
      "NVIDIA GeForce RTX 2070; 16,384 MB RAM\n"
      "GI: Irradiance Caching [on] {q=0.5}\n"
      "Setup: 0.25 s | Total: 12.75 s ~ 100%\n"
      "The quick brown fox jumps over the lazy dog.\n"
      "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG!\n"
      "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~ 0123456789\n";
  const int text_w = 45 * kCellW, text_h = 9 * kCellH;
  const int atlas_w = kWidth * kZoom, atlas_h = kHeight * kZoom;
  Canvas c(atlas_w + 16 + 2 * text_w + 24, atlas_h + 16 + 3 * text_h + 24, 128);

  // Atlas magnified, on a checkerboard of cells with the baseline marked.
  for (int n = 0; n < kCodes; ++n) {
    const int cx = (n % kGridCols) * kCellW * kZoom, cy = (n / kGridCols) * kCellH * kZoom;
    const bool odd = ((n % kGridCols) + (n / kGridCols)) % 2 != 0;
    c.fill(cx, cy, cx + kCellW * kZoom, cy + kCellH * kZoom, odd ? 24 : 44);
    c.fill(cx, cy + kBaselineRow * kZoom, cx + kCellW * kZoom, cy + kBaselineRow * kZoom + 1, 90);
  }
  for (int y = 0; y < atlas_h; ++y) {
    for (int x = 0; x < atlas_w; ++x)
      c.blend(x, y, 255, alpha[(y / kZoom) * kWidth + x / kZoom] / 255.0);
  }
  // Sample report text at 1:1 on dark and bright, then magnified x3 below.
  const int tx = atlas_w + 16;
  c.fill(tx, 0, tx + text_w + 8, text_h + 8, 20);
  draw_text(c, alpha, sample, tx + 4, 4, 1, 255, 0);
  c.fill(tx, text_h + 16, tx + text_w + 8, 2 * text_h + 24, 235);
  draw_text(c, alpha, sample, tx + 4, text_h + 20, 1, 0, 255);
  c.fill(0, atlas_h + 16, 3 * text_w + 8, atlas_h + 16 + 3 * text_h + 8, 20);
  draw_text(c, alpha, sample, 4, atlas_h + 20, 3, 255, 0);
  if (stbi_write_png(path.c_str(), c.w, c.h, 3, c.rgb.data(), c.w * 3) == 0) {
    fail("cannot write " + path);
  }
}

void dump(const std::vector<Cell>& glyphs) {
  for (int code = 0x21; code <= 0x7E; ++code) {
    std::printf("# %s\n%c grid\n", describe(code).c_str(), code);
    for (const auto& row : glyphs[code - kFirstCode]) {
      for (int level : row) std::putchar(char_from_level(level));
      std::putchar('\n');
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string output, preview, font_path = MAKE_ATLAS_FONT, fixes_path = MAKE_ATLAS_FIXES;
  bool want_dump = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--preview" && has_value) {
      preview = argv[++i];
    } else if (a == "--font" && has_value) {
      font_path = argv[++i];
    } else if (a == "--fixes" && has_value) {
      fixes_path = argv[++i];
    } else if (a == "--dump") {
      want_dump = true;
    } else if (!a.empty() && a[0] != '-' && output.empty()) {
      output = a;
    } else {
      output.clear();
      break;
    }
  }
  if (output.empty()) {
    std::fprintf(stderr,
                 "usage: make_atlas OUTPUT.tga [--preview OUT.png] [--font FONT.ttf] "
                 "[--fixes RULES.txt] [--dump]\n");
    return 2;
  }
  try {
    Font font(font_path);
    const std::vector<Cell> glyphs = build_glyphs(font, read_fixes(fixes_path));
    const std::vector<uint8_t> alpha = compose(glyphs);
    write_file(output, encode_tga(alpha));
    if (!preview.empty())
      write_preview(preview, alpha);
    if (want_dump)
      dump(glyphs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make_atlas: %s\n", e.what());
    return 1;
  }
  return 0;
}
