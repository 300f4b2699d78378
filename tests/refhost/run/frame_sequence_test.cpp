// Numbered sequences and frame ranges as the command line takes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "refhost/run/command_line.hpp"
#include "refhost/run/frame_sequence.hpp"

namespace {

std::string range_refusal(const std::string& text) {
  try {
    parse_frame_list(text, 1000);
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

std::vector<std::int32_t> frames(const std::string& text) {
  return parse_frame_list(text, 1000).frames;
}

TEST(frame_range, TakesFirstToLastOrOneFrame) {
  const frame_list range = parse_frame_list("1-24", 1000);
  EXPECT_EQ(range.frames.front(), 1);
  EXPECT_EQ(range.frames.back(), 24);
  EXPECT_EQ(range.count(), 24);
  EXPECT_EQ(parse_frame_list("0-0", 1000).count(), 1);
  EXPECT_EQ(frames("107"), std::vector<std::int32_t>{107});
  EXPECT_EQ(parse_frame_list("1-1000", 1000).count(), 1000);
  // The largest frame number: the count is worked out without overflow.
  EXPECT_EQ(parse_frame_list("2147483600-2147483647", 1000).count(), 48);
  EXPECT_EQ(frames("2147483640-2147483647x5"), (std::vector<std::int32_t>{2147483640, 2147483645}));
}

TEST(frame_range, TakesStepsAndListsInTheOrderGiven) {
  EXPECT_EQ(frames("1-10x3"), (std::vector<std::int32_t>{1, 4, 7, 10}));
  EXPECT_EQ(frames("1-11x5,120,200-202"),
            (std::vector<std::int32_t>{1, 6, 11, 120, 200, 201, 202}));
  EXPECT_EQ(frames("30,10-11,5"), (std::vector<std::int32_t>{30, 10, 11, 5}));
  EXPECT_EQ(parse_frame_list("1-100x5,120,200-210", 1000).count(), 20 + 1 + 11);
  // The limit counts the frames of every part together.
  EXPECT_NE(range_refusal("1-600,601-1001").find("1001 frames, more than the 1000"),
            std::string::npos);
  EXPECT_EQ(parse_frame_list("1-1999x2", 1000).count(), 1000);
}

TEST(frame_range, RefusesWhatIsNotARangeSayingWhy) {
  EXPECT_NE(range_refusal("24-1").find("ends before it starts"), std::string::npos);
  EXPECT_NE(range_refusal("1-1001").find("1001 frames, more than the 1000"), std::string::npos);
  EXPECT_NE(range_refusal("0-2147483647").find("more than the 1000"), std::string::npos);
  EXPECT_NE(range_refusal("1-10,5").find("frame 5 is given twice"), std::string::npos);
  EXPECT_NE(range_refusal("1-9x2,1-9x4").find("frame 1 is given twice"), std::string::npos);
  EXPECT_NE(range_refusal("7x2").find("has a step but no FIRST-LAST"), std::string::npos);
  for (const char* text :
       {"", "-", "1-", "-5", "a-b", " 1-2", "1-2 ", "+1-2", "1..24", "1-2-3", "1-99999999999",
        "1,,2", "1,", ",1", "1-10x0", "1-10x", "1-10x-2", "1-10x2x3", "1 ,2"}) {
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

TEST(frame_pattern, TakesHashAndAtPadding) {
  // One # is four digits, as most tools read it; a run of them, or of @,
  // one digit each.
  const struct {
    const char* path;
    std::int32_t frame;
    const char* file;
  } cases[] = {
      {"r.#.png", 7, "r.0007.png"},
      {"r.####.png", 7, "r.0007.png"},
      {"r.##.png", 7, "r.07.png"},
      {"r.######.png", 12345, "r.012345.png"},
      {"r.@.png", 7, "r.7.png"},
      {"r.@@@.png", 7, "r.007.png"},
      {"r_#.tga", 123456, "r_123456.tga"},
      {"a@2x/r.#.png", 3, "a@2x/r.0003.png"},
      {"a#b/r%#1.@@.png", 3, "a#b/r#1.03.png"},
  };
  for (const auto& c : cases) {
    const auto pattern = frame_pattern::find(c.path);
    ASSERT_TRUE(pattern) << c.path;
    EXPECT_EQ(pattern->path_for(c.frame), c.file) << c.path;
  }
  // "%#" and "%@" are the characters themselves, in a name without a
  // frame number too; '#' and '@' in a folder's name are that folder's.
  for (const char* name : {"take%#2.png", "a%@b.png", "#1/x.png", "@home/x.png"})
    EXPECT_FALSE(frame_pattern::find(name)) << name;
  EXPECT_EQ(literal_path("#1/take%#2%@3%%.png"), "#1/take#2@3%.png");
  for (const char* path : {"r.#_%04d.png", "r.##@.png", "r.#.#.png"})
    EXPECT_NE(pattern_refusal(path).find("two frame numbers"), std::string::npos) << path;
}
