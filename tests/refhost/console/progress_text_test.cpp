// The progress and summary lines of a run of many frames.

#include <gtest/gtest.h>

#include "refhost/console/progress_text.hpp"

TEST(progress_text, SaysDoneOfTotalRateAndTimeLeft) {
  EXPECT_EQ(progress_line({0, 0, 24, 0.0}), "0 of 24 frames");
  EXPECT_EQ(progress_line({12, 0, 24, 2.0}), "12 of 24 frames, 6.0 frames/s, 2 s left");
  EXPECT_EQ(progress_line({1, 0, 1000, 2.0}), "1 of 1000 frames, 0.5 frames/s, 33 min 18 s left");
  EXPECT_EQ(progress_line({1, 0, 100000, 4.0}),
            "1 of 100000 frames, 0.2 frames/s, 111 h 6 min left");
  // Failed frames count as done; the last frame has no time left.
  EXPECT_EQ(progress_line({20, 4, 24, 3.0}), "24 of 24 frames (4 failed), 8.0 frames/s");
  // A clock that has not moved gives no rate rather than a division by zero.
  EXPECT_EQ(progress_line({3, 0, 24, 0.0}), "3 of 24 frames");
}

TEST(progress_text, SummarisesTheRunInOneLine) {
  EXPECT_EQ(summary_line({24, 0, 24, 4.0}, "out"), "wrote 24 frames to out in 4.0 s, 6.0 frames/s");
  EXPECT_EQ(summary_line({1, 0, 1, 0.5}, "o"), "wrote 1 frame to o in 0.5 s, 2.0 frames/s");
  EXPECT_EQ(summary_line({22, 2, 24, 4.0}, "out"),
            "wrote 22 of 24 frames to out in 4.0 s, 5.5 frames/s; 2 failed");
  EXPECT_EQ(summary_line({0, 3, 3, 0.0}, "out"), "wrote 0 of 3 frames to out in 0.0 s; 3 failed");
}
