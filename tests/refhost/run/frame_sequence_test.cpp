// Numbered sequences and frame ranges as the command line takes them.

#include <gtest/gtest.h>

#include <string>

#include "refhost/run/command_line.hpp"
#include "refhost/run/frame_sequence.hpp"

namespace {

std::string range_refusal(const std::string& text) {
  try {
    parse_frame_range(text, 1000);
  } catch (const usage_error& error) {
    return error.what();
  }
  return "(accepted)";
}

std::string pattern_refusal(const std::string& path) {
  try {
    frame_pattern::find(path);
  } catch (const usage_error& error) {
    return error.what();
  }
  return "(accepted)";
}

}  // namespace

TEST(frame_range, TakesFirstToLastOrOneFrame) {
  const frame_range range = parse_frame_range("1-24", 1000);
  EXPECT_EQ(range.first, 1);
  EXPECT_EQ(range.last, 24);
  EXPECT_EQ(range.count(), 24);
  EXPECT_EQ(parse_frame_range("0-0", 1000).count(), 1);
  const frame_range single = parse_frame_range("107", 1000);
  EXPECT_EQ(single.first, 107);
  EXPECT_EQ(single.last, 107);
  EXPECT_EQ(parse_frame_range("1-1000", 1000).count(), 1000);
  // The largest frame number: the count is worked out without overflow.
  EXPECT_EQ(parse_frame_range("2147483600-2147483647", 1000).count(), 48);
}

TEST(frame_range, RefusesWhatIsNotARangeSayingWhy) {
  EXPECT_NE(range_refusal("24-1").find("ends before it starts"), std::string::npos);
  EXPECT_NE(range_refusal("1-1001").find("1001 frames, more than the 1000"), std::string::npos);
  EXPECT_NE(range_refusal("0-2147483647").find("more than the 1000"), std::string::npos);
  for (const char* text :
       {"", "-", "1-", "-5", "a-b", " 1-2", "1-2 ", "+1-2", "1..24", "1-2-3", "1-99999999999"}) {
    const std::string message = range_refusal(text);
    EXPECT_EQ(message.rfind("--range", 0), 0u) << "'" << text << "': " << message;
  }
}

TEST(frame_pattern, FillsInTheFrameNumberAsPrintfWould) {
  EXPECT_FALSE(frame_pattern::find("shots/render.0001.png"));
  const auto padded = frame_pattern::find("shots/render.%04d.png");
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->path_for(7), "shots/render.0007.png");
  EXPECT_EQ(padded->path_for(0), "shots/render.0000.png");
  // A number wider than the padding keeps all its digits.
  EXPECT_EQ(padded->path_for(123456), "shots/render.123456.png");
  EXPECT_EQ(frame_pattern::find("f%d.tga")->path_for(42), "f42.tga");
  EXPECT_EQ(frame_pattern::find("f%09d.tga")->path_for(42), "f000000042.tga");
  // %% is a percent sign of the name, before or after the number.
  EXPECT_EQ(frame_pattern::find("100%%/a%%_%03d.png")->path_for(5), "100%/a%_005.png");
}

TEST(frame_pattern, RefusesWhatLooksLikeANumberButIsNone) {
  const struct {
    const char* path;
    const char* reason;
  } cases[] = {
      {"a%5d.png", "not a frame number"},    // blank-padded: no file name wants blanks
      {"a%010d.png", "not a frame number"},  // one digit of width at most
      {"a%s.png", "not a frame number"},    {"a%0d.png", "not a frame number"},
      {"a%d_%d.png", "two frame numbers"},  {"shot%03d/frame.png", "not in the file name"},
  };
  for (const auto& c : cases) {
    const std::string message = pattern_refusal(c.path);
    EXPECT_NE(message.find(c.reason), std::string::npos) << c.path << ": " << message;
    EXPECT_NE(message.find(c.path), std::string::npos) << message;
  }
  // A '%' that begins no number is one of the name, as "%%" is.
  for (const char* name : {"a%.png", "a.png%", "100%%.png"})
    EXPECT_FALSE(frame_pattern::find(name));
  EXPECT_EQ(literal_path("100%%/a%.png%"), "100%/a%.png%");
}
