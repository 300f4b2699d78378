#include "tests/emulated_windows/drawn_report.hpp"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

constexpr int draws_per_character = 9;

// "<object>.<call>(x,y)" for a listed pixel call; false for anything else.
bool pixel_call(const std::string& entry, const char* call, int& x, int& y) {
  const std::size_t at = entry.find(std::string(".") + call + "(");
  return at != std::string::npos &&
         std::sscanf(entry.c_str() + entry.find('(', at), "(%d,%d)", &x, &y) == 2;
}

}  // namespace

void use_one_pixel_glyphs(test_host& host) {
  host.atlas_width = 16;
  host.atlas_height = 6;
  host.atlas_pixels.assign(16 * 6, Bgra8{0, 0, 0, 255});
  host.ledger.list_pixel_calls = true;
}

std::string drawn_report(const call_ledger& ledger) {
  struct draw {
    char character;
    int x, y;
  };
  std::vector<draw> draws;
  bool atlas_read = false;
  char character = 0;
  for (const std::string& entry : ledger.calls) {
    int x = 0, y = 0;
    if (entry.rfind("atlas", 0) == 0 && pixel_call(entry, "get_pixel", x, y)) {
      character = static_cast<char>(0x20 + y * 16 + x);
      atlas_read = true;
    } else if (atlas_read && entry.rfind("image.", 0) == 0 &&
               pixel_call(entry, "get_pixel", x, y)) {
      draws.push_back(draw{character, x, y});
      atlas_read = false;
    }
  }
  if (draws.size() % draws_per_character != 0)
    throw std::runtime_error("the glyph draws do not come nine to a character");

  std::string text;
  int line_y = 0, next_x = 0;
  for (std::size_t i = draws_per_character - 1; i < draws.size(); i += draws_per_character) {
    const draw& glyph = draws[i];
    for (std::size_t k = i + 1 - draws_per_character; k < i; ++k) {
      if (draws[k].character != glyph.character)
        throw std::runtime_error("one character's nine draws read different cells");
    }
    if (text.empty() || glyph.y != line_y) {
      // Lines are one pixel high; a line with nothing drawn leaves a gap.
      if (!text.empty())
        text.append(static_cast<std::size_t>(std::max(1, glyph.y - line_y)), '\n');
      line_y = glyph.y;
      next_x = glyph.x;
    }
    // A character that draws nothing still moves the pen one cell.
    for (; next_x < glyph.x; ++next_x) text += '?';
    text += glyph.character;
    next_x = glyph.x + 1;
  }
  return text.empty() ? text : text + '\n';
}
