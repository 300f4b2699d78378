// velloq-host stamping many frames in one run: sequences, folders and
// lists in, outputs named after them, frames that fail on their own, and
// options that do not make sense together.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "tests/refhost/run/cli_fixture.hpp"
#include "tests/support/png_builder.hpp"

namespace {

// A dark picture of its own size and shade per frame, wide enough for the
// report's time lines.
std::vector<unsigned char> frame_png(int frame) {
  const auto shade = static_cast<std::uint8_t>(10 * frame);
  return encode_png(*make_host_image(240 + frame, 60, Bgra8{shade, shade, shade, 0}));
}

// Stamped: opaque, and white text where the input was dark.
bool stamped(const memory_image& picture) {
  int white = 0;
  for (const Bgra8& pixel : picture.pixels()) {
    if (pixel.alpha != 255)
      return false;
    white += pixel.red == 255 && pixel.green == 255 && pixel.blue == 255;
  }
  return white > 20;
}

class batch : public cli {
 protected:
  // Frames first to last as in/render.0001.png, ...; the pattern's path.
  std::string sequence(int first, int last) {
    fs::create_directories(dir / "in");
    for (int frame = first; frame <= last; ++frame) {
      char name[32];
      std::snprintf(name, sizeof name, "in/render.%04d.png", frame);
      input(name, frame_png(frame));
    }
    return "\"" + native_path((dir / "in").string()) + "/render.%04d.png\"";
  }
};

}  // namespace

TEST_F(batch, a_sequence_range_is_stamped_into_files_named_after_its_frames) {
  const run_result r = run("--input " + sequence(1, 5) + " --range 2-4 --format tga --jobs 2");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // TGA alone: no PNG is written.
  ASSERT_EQ(outputs(),
            (std::vector<std::string>{"render.0002.tga", "render.0003.tga", "render.0004.tga"}));
  for (int frame = 2; frame <= 4; ++frame) {
    const host_image_ptr picture = read_output("render.000" + std::to_string(frame) + ".tga");
    EXPECT_EQ(picture->width(), 240 + frame);
    EXPECT_TRUE(stamped(*picture)) << frame;
  }
  EXPECT_NE(r.output.find("wrote 3 frames to"), std::string::npos) << r.output;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(batch, folders_and_lists_of_inputs_are_stamped_in_order) {
  fs::create_directories(dir / "shots");
  input("shots/b.png", frame_png(2));
  input("shots/a.tga", encode_tga(*make_host_image(30, 30, Bgra8{5, 5, 5, 255})));
  input("shots/readme.txt", {'h', 'i'});
  const std::string extra = input("extra.png", frame_png(3));
  const run_result r =
      run("--input \"" + native_path((dir / "shots").string()) + "\" --input " + extra +
          " --out \"" + native_path((out() / "s%02d.png").string()) + "\" --jobs 3");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // a.tga, b.png, extra.png: numbered by their place in the list.
  ASSERT_EQ(outputs(), (std::vector<std::string>{"s01.png", "s02.png", "s03.png"}));
  EXPECT_EQ(read_output("s01.png")->width(), 30);
  EXPECT_EQ(read_output("s02.png")->width(), 242);
  EXPECT_EQ(read_output("s03.png")->width(), 243);
}

TEST_F(batch, a_failing_frame_is_named_and_the_others_go_on) {
  sequence(1, 6);
  input("in/render.0002.png", {});  // empty
  std::vector<unsigned char> cut = frame_png(3);
  cut.resize(cut.size() / 2);
  input("in/render.0003.png", cut);  // corrupt
  const png_layout huge{100000, 100000, 8, 6, false};
  input("in/render.0004.png", build_png(huge, {}, zlib_stored({0})));   // too large
  input("in/render.0005.png", encode_png(*make_host_image(70000, 2)));  // a TGA cannot hold it

  const run_result r = run("--input \"" + native_path((dir / "in").string()) +
                           "/render.%04d.png\" --range 1-6 --tga --jobs 2");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_EQ(outputs(), (std::vector<std::string>{"render.0001.png", "render.0001.tga",
                                                 "render.0006.png", "render.0006.tga"}));
  EXPECT_TRUE(leftovers().empty()) << leftovers().front();
  for (const char* reason : {"render.0002.png: ", "render.0003.png: PNG: ",
                             "render.0004.png: PNG: a picture of "
                             "100000x100000 pixels is larger",
                             "render.0005.png: TGA cannot store a picture of 70000x2 pixels"}) {
    EXPECT_NE(r.output.find(reason), std::string::npos) << reason << "\n" << r.output;
  }
  EXPECT_NE(r.output.find("wrote 2 of 6 frames to"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("4 failed"), std::string::npos) << r.output;
  for (const char* name : {"render.0001.png", "render.0006.tga"})
    EXPECT_TRUE(stamped(*read_output(name))) << name;
}

TEST_F(batch, a_rerun_keeps_every_earlier_file_it_does_not_replace) {
  const std::string frames = sequence(1, 5) + " --range 1-5 --tga";
  ASSERT_EQ(run("--input " + frames).exit_code, 0);
  const std::vector<unsigned char> first = output_bytes("render.0001.png");
  const std::vector<unsigned char> third = output_bytes("render.0003.png");

  // Without --overwrite nothing is replaced, not even the frames that
  // could be: the whole run refuses first.
  const run_result refused = run("--input " + frames + " --rendering-time 5000");
  EXPECT_EQ(refused.exit_code, 1) << refused.output;
  // All ten named by count, with the two ways on.
  EXPECT_NE(refused.output.find("render.0001.png and 9 more outputs exist already; nothing was "
                                "written (--skip-existing leaves out the frames whose pictures are "
                                "all there; -y or --overwrite replaces them)"),
            std::string::npos)
      << refused.output;
  EXPECT_EQ(output_bytes("render.0001.png"), first);

  // Sources gone: found before the first picture, nothing replaced.
  fs::remove(dir / "in/render.0003.png");
  fs::remove(dir / "in/render.0004.png");
  const run_result missing = run("--input " + frames + " --rendering-time 5000 -y");
  EXPECT_EQ(missing.exit_code, 1) << missing.output;
  EXPECT_NE(missing.output.find("frames 3-4 of "), std::string::npos) << missing.output;
  EXPECT_EQ(output_bytes("render.0001.png"), first);

  // A source that fails at its turn: its earlier files stay, named; the
  // others are replaced.
  input("in/render.0003.png", {0x89, 'P', 'N', 'G'});
  input("in/render.0004.png", frame_png(4));
  const run_result rerun = run("--input " + frames + " --rendering-time 5000 -y");
  EXPECT_EQ(rerun.exit_code, 1) << rerun.output;
  EXPECT_EQ(outputs().size(), 10u);
  EXPECT_NE(output_bytes("render.0001.png"), first);
  EXPECT_EQ(output_bytes("render.0003.png"), third);
  EXPECT_NE(rerun.output.find("kept the earlier"), std::string::npos) << rerun.output;
  EXPECT_NE(rerun.output.find("render.0003.tga as it was"), std::string::npos) << rerun.output;
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(batch, options_that_do_not_go_together_are_refused_before_anything_is_written) {
  const std::string pattern = sequence(1, 2);
  const std::string one = input("one.png", frame_png(1));
  const struct {
    std::string arguments;
    int exit_code;
    const char* message;
  } cases[] = {
      {"--input " + pattern, 2, "--range names its frames"},
      {"--input " + one + " --range 1-2", 2, "--range needs a numbered --input"},
      {"--input " + one + " --frames 3", 2, "--frames and --input do not go together"},
      {"--input " + pattern + " --range 2-1", 2, "ends before it starts"},
      {"--input \"a%5d.png\" --range 1-2", 2, "not a frame number"},
      {"--input " + one + " --format gif", 2, "--format takes png, tga, jpg or several"},
      {"--input " + one + " --jpeg-quality 80", 2, "the run writes none"},
      {"--input " + one + " --format jpg --jpeg-quality 101", 2, "outside 1 to 100"},
      {"--input " + one + " --format png --tga", 2, "the formats are given once"},
      {"--input " + one + " --jobs 0", 2, "--jobs: 0 is outside 1 to 64"},
      {"--input " + one + " --jobs 65", 2, "--jobs: 65 is outside 1 to 64"},
      {"--input " + pattern + " --range 1-2 --out \"" + native_path(out().string()) +
           "/single.png\"",
       2, "names one picture"},
      {"--input " + one + " --input " + one, 2, "would both be written to"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.arguments);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.arguments << "\n" << r.output;
    EXPECT_TRUE(outputs().empty()) << c.arguments;
  }
}

TEST_F(batch, no_output_replaces_an_input_of_the_run) {
  // Folder inputs count from 1: a numbered --out over their names would
  // write each frame onto the next frame's input.
  fs::create_directories(out());
  for (int frame = 0; frame < 4; ++frame)
    input("out/render.000" + std::to_string(frame) + ".png", frame_png(frame));
  const std::vector<unsigned char> second = output_bytes("render.0001.png");
  const std::string folder = "--input \"" + native_path(out().string()) + "/\" -y --jobs 1";
  for (const std::string& out_option :
       {std::string(" --out \"") + native_path(out().string()) + "/render.%04d.png\"",
        std::string(" --out \"") + native_path(out().string()) + "\""}) {
    const run_result r = run(folder + out_option);
    EXPECT_EQ(r.exit_code, 2) << r.output;
    EXPECT_NE(r.output.find("write into another --out folder"), std::string::npos) << r.output;
    EXPECT_EQ(output_bytes("render.0001.png"), second);
  }
}

TEST_F(batch, a_mostly_missing_range_is_refused_in_one_message) {
  const run_result r = run("--input " + sequence(1, 3) + " --range 1-100000");
  EXPECT_EQ(r.exit_code, 1) << r.output;
  EXPECT_NE(r.output.find("frames 4-100000 of "), std::string::npos) << r.output;
  EXPECT_LT(std::count(r.output.begin(), r.output.end(), '\n'), 3) << r.output;
  EXPECT_TRUE(outputs().empty());
}

TEST_F(batch, skip_existing_stamps_only_the_frames_not_there) {
  const std::string frames = "--input " + sequence(1, 4) + " --range 1-4 --tga";
  ASSERT_EQ(run(frames).exit_code, 0);
  const std::vector<unsigned char> first = output_bytes("render.0001.png");
  fs::remove(out() / "render.0002.png");  // half a frame: stamped again whole
  fs::remove(out() / "render.0003.png");
  fs::remove(out() / "render.0003.tga");
  const run_result r = run(frames + " --skip-existing --overwrite --rendering-time 7000");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("skipped 2 of 4 frames"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("wrote 2 frames"), std::string::npos) << r.output;
  EXPECT_EQ(outputs().size(), 8u);
  EXPECT_EQ(output_bytes("render.0001.png"), first);
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(batch, skip_existing_stamps_again_a_picture_cut_short) {
  const std::string frames = "--input " + sequence(1, 3) + " --range 1-3";
  ASSERT_EQ(run(frames).exit_code, 0);
  const std::vector<unsigned char> whole = output_bytes("render.0003.png");
  // An empty picture, and one cut short, as a full disk or a failed copy
  // leaves them: not done, and nothing of them worth keeping.
  write_file_atomically((out() / "render.0001.png").string(), {}, replace_policy::replace_existing);
  write_file_atomically((out() / "render.0002.png").string(),
                        std::vector<unsigned char>(whole.begin(), whole.begin() + whole.size() / 2),
                        replace_policy::replace_existing);
  // The dry run judges them as the run does: the cut one replaced, the whole one kept.
  const run_result plan = run(frames + " --skip-existing --dry-run");
  EXPECT_EQ(plan.exit_code, 0) << plan.output;
  EXPECT_NE(plan.output.find("replace"), std::string::npos) << plan.output;
  EXPECT_NE(plan.output.find("kept"), std::string::npos) << plan.output;
  const run_result r = run(frames + " --skip-existing");
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("skipped 1 of 3 frames"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("render.0002.png is cut short or empty"), std::string::npos) << r.output;
  for (const std::string& name : outputs()) EXPECT_TRUE(stamped(*read_output(name))) << name;
  EXPECT_EQ(output_bytes("render.0003.png"), whole);

  // A JPEG without its end-of-image marker is cut short too.
  ASSERT_EQ(run(frames + " --format jpg").exit_code, 0);
  const std::vector<unsigned char> jpeg = output_bytes("render.0001.jpg");
  write_file_atomically((out() / "render.0001.jpg").string(),
                        std::vector<unsigned char>(jpeg.begin(), jpeg.end() - 2),
                        replace_policy::replace_existing);
  const run_result again = run(frames + " --format jpg --skip-existing");
  ASSERT_EQ(again.exit_code, 0) << again.output;
  EXPECT_NE(again.output.find("skipped 2 of 3 frames"), std::string::npos) << again.output;
  const std::vector<unsigned char> restamped = output_bytes("render.0001.jpg");
  ASSERT_GE(restamped.size(), 2u);
  EXPECT_EQ(restamped[restamped.size() - 2], 0xFF);
  EXPECT_EQ(restamped.back(), 0xD9);
}

TEST_F(batch, options_are_written_as_other_tools_take_them) {
  const std::string one = input("one.png", frame_png(1));
  const struct {
    std::string arguments;
    int exit_code;
    const char* shown;
    const char* not_shown;
  } cases[] = {
      {"--version", 0, "velloq-host 1.", "plug-in"},
      {"--input " + one + " -j2 --quiet", 0, "wrote 1 frame", "plug-in"},
      {"--input " + one + " --jobs=2 --format=png,tga -y", 0, "one.png, ", "velloq-host:"},
      {"--input " + one + " --jobs 2 -j 3", 2, "-j is given twice", "wrote"},
      {"--input " + one + " --quiet --quiet", 2, "--quiet is given twice", "wrote"},
      {"--input " + one + " --quiet=yes", 2, "--quiet takes no value", "wrote"},
  };
  for (const auto& c : cases) {
    const run_result r = run(c.arguments);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.shown), std::string::npos) << c.arguments << "\n" << r.output;
    EXPECT_EQ(r.output.find(c.not_shown), std::string::npos) << c.arguments << "\n" << r.output;
  }
}

TEST_F(batch, an_input_is_never_its_own_output) {
  fs::create_directories(out());
  write_file_atomically((out() / "plate.png").string(), frame_png(4),
                        replace_policy::replace_existing);
  const std::vector<unsigned char> before = output_bytes("plate.png");
  const run_result r =
      run("--input \"" + native_path((out() / "plate.png").string()) + "\" --overwrite");
  EXPECT_EQ(r.exit_code, 2) << r.output;
  EXPECT_NE(r.output.find("is the input itself"), std::string::npos) << r.output;
  EXPECT_EQ(output_bytes("plate.png"), before);
}
