// What velloq-host echoes: control characters and broken UTF-8 escaped,
// every printable character, in any language, kept.

#include <gtest/gtest.h>

#include <string>

#include "refhost/console/printable_text.hpp"

TEST(printable_text, KeepsPrintableTextInAnyLanguage) {
  for (const char* text : {"render_0001.png", "Fotos/\xC3\xA9t\xC3\xA9.png",    // été
                           "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB",  // ファイル
                           "\xF0\x9F\x8E\xA8 \\ ~", ""}) {
    EXPECT_EQ(printable(text), text);
  }
}

TEST(printable_text, EscapesWhatCouldMoveTheCursorOrHideText) {
  const std::pair<std::string, std::string> cases[] = {
      {"red\x1B[2Jx", "red\\x1b[2Jx"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {std::string("nul\0end", 7), "nul\\x00end"},
      {"del\x7F", "del\\x7f"},
      {"csi\xC2\x9B"
       "31m",
       "csi\\xc2\\x9b31m"},                // C1 control, well formed
      {"bad\xFF\xFE", "bad\\xff\\xfe"},    // never UTF-8
      {"over\xC0\xAF", "over\\xc0\\xaf"},  // overlong '/'
      {"cut\xE2\x82", "cut\\xe2\\x82"},    // sequence cut short
      {"surrogate\xED\xA0\x80", "surrogate\\xed\\xa0\\x80"},
      {"beyond\xF4\x90\x80\x80", "beyond\\xf4\\x90\\x80\\x80"},  // past U+10FFFF
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown) << shown;
}
