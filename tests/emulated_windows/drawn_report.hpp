#pragma once
// The report text a render drew, read back from the host calls it made.
// The host hands the module an atlas of 16 x 6 cells of one pixel each, all
// covered, so every character costs nine one-pixel draws (eight outline
// copies, then the glyph) and each draw reads the atlas cell of its
// character: the glyph's draw tells the character and where the pen stood.
// The picture must be large enough for every draw to land inside it (two
// pixels wider and three taller than the report in characters).

#include <string>

#include "tests/support/test_host.hpp"

// Makes every atlas `host` loads the one-pixel atlas and lists pixel calls.
void use_one_pixel_glyphs(test_host& host);

// The report as drawn during the calls in `ledger`, one "\n" per line.
// Throws std::runtime_error when the calls do not read as nine draws per
// character.
std::string drawn_report(const call_ledger& ledger);
