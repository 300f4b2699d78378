// What a run writes, worked out from its options: inputs found, outputs
// named after them, formats chosen, and the plans no run should start.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/run/input_list.hpp"
#include "refhost/run/run_plan.hpp"
#include "tests/support/codec_test_support.hpp"

namespace {

struct planned {
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;  // relative to the scratch folder, all formats
};

class run_plan : public ::testing::Test {
 protected:
  planned plan(std::vector<std::string> args) {
    for (std::string& arg : args) {
      if (arg.rfind("@", 0) == 0)
        arg = folder.file(arg.substr(1));
    }
    const host_command command = parse_command_line(args);
    const output_naming naming = parse_output_naming(command.out);
    planned result;
    for (const frame_task& task : plan_frames(command, naming, chosen_formats(command, naming))) {
      result.inputs.push_back(relative(task.input_path));
      for (const std::string& output : task.outputs) result.outputs.push_back(relative(output));
    }
    return result;
  }

  std::string refusal(const std::vector<std::string>& args) {
    try {
      plan(args);
    } catch (const std::exception& error) {
      return error.what();
    }
    return "(planned)";
  }

  void touch(const std::string& name) {
    std::filesystem::create_directories(std::filesystem::path(folder.file(name)).parent_path());
    write_file_atomically(folder.file(name), {1}, replace_policy::replace_existing);
  }

  // The path below the scratch folder, with '/' between its parts.
  std::string relative(const std::string& path) const {
    const std::string root = folder.file("");
    std::string inside = path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
    for (char& c : inside) {
      if (c == '\\')
        c = '/';
    }
    return inside;
  }

  scratch_folder folder;
};

}  // namespace

TEST_F(run_plan, OutputsAreNamedAfterTheirInputsInEachFormat) {
  const planned sequence =
      plan({"--input", "@in/render.%04d.png", "--range", "9-11", "--out", "@o", "--tga"});
  EXPECT_EQ(sequence.inputs, (std::vector<std::string>{"in/render.0009.png", "in/render.0010.png",
                                                       "in/render.0011.png"}));
  EXPECT_EQ(sequence.outputs, (std::vector<std::string>{"o/render.0009.png", "o/render.0009.tga",
                                                        "o/render.0010.png", "o/render.0010.tga",
                                                        "o/render.0011.png", "o/render.0011.tga"}));
  // TGA alone writes no PNG; a name without a picture extension keeps it all.
  EXPECT_EQ(
      plan({"--input", "@a/shot.PNG", "--input", "@b/plate.v2", "--out", "@o", "--format", "tga"})
          .outputs,
      (std::vector<std::string>{"o/shot.tga", "o/plate.v2.tga"}));
  // The built-in scene keeps its frame names.
  EXPECT_EQ(plan({"--frames", "2", "--out", "@o"}).outputs,
            (std::vector<std::string>{"o/render_0001.png", "o/render_0002.png"}));
}

TEST_F(run_plan, AFolderGivesItsPicturesByName) {
  for (const char* name : {"b.tga", "a.png", "C.PNG", "notes.txt", ".hidden.png", "d.png.bak"})
    touch(std::string("in/") + name);
  std::filesystem::create_directories(folder.file("in/sub.png"));  // a folder, not a picture
  const planned folder_run = plan({"--input", "@in", "--out", "@o"});
  const std::vector<std::string> skipped = list_inputs({folder.file("in")}, std::nullopt).skipped;
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(relative(skipped.front()), "in/sub.png (a folder)");
  EXPECT_EQ(folder_run.inputs, (std::vector<std::string>{"in/C.PNG", "in/a.png", "in/b.tga"}));
  EXPECT_EQ(folder_run.outputs, (std::vector<std::string>{"o/C.png", "o/a.png", "o/b.png"}));

  std::filesystem::create_directories(folder.file("empty"));
  EXPECT_NE(refusal({"--input", "@empty"}).find("holds no picture (PNG, TGA and JPEG)"),
            std::string::npos);
}

TEST_F(run_plan, AnOutputFileNameChoosesFormatAndNumbering) {
  EXPECT_EQ(plan({"--input", "@x.png", "--out", "@o/stamped.TGA"}).outputs,
            std::vector<std::string>{"o/stamped.TGA"});
  // Frames of a sequence keep their numbers, other inputs count from 1.
  EXPECT_EQ(plan({"--input", "@r.%d.png", "--range", "7-8", "--out", "@o/s.%03d.png"}).outputs,
            (std::vector<std::string>{"o/s.007.png", "o/s.008.png"}));
  EXPECT_EQ(plan({"--input", "@x.png", "--input", "@y.tga", "--out", "@o/s%d.png"}).outputs,
            (std::vector<std::string>{"o/s1.png", "o/s2.png"}));
  // An existing folder whose name ends in .png is a folder.
  std::filesystem::create_directories(folder.file("looks_like.png"));
  EXPECT_EQ(plan({"--input", "@x.tga", "--out", "@looks_like.png"}).outputs,
            std::vector<std::string>{"looks_like.png/x.png"});
}

TEST_F(run_plan, RefusesPlansThatWouldLoseOrMixPictures) {
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"--input", "@a/x.png", "--input", "@b/x.png", "--out", "@o"}, "would both be written to"},
      {{"--input", "@x.png", "--input", "@x.tga", "--out", "@o"}, "would both be written to"},
      {{"--input", "@x.png", "--input", "@y.png", "--out", "@o/one.png"}, "names one picture"},
      {{"--frames", "3", "--out", "@o/one.png"}, "names one picture"},
      {{"--input", "@x.png", "--out", "@o/one.png", "--format", "tga"}, "another --format"},
      {{"--input", "@x.png", "--out", "@o/one.tga", "--tga"}, "another --format"},
      {{"--input", "@r%d.png", "--range", "1-2", "--out", "@o/s.png"}, "names one picture"},
      {{"--input", "@r%d.png", "--range", "1-2", "--out", "@o/s%d_%d.png"}, "two frame numbers"},
  };
  for (const auto& c : cases) {
    const std::string message = refusal(c.args);
    EXPECT_NE(message.find(c.reason), std::string::npos) << c.args[1] << ": " << message;
  }
}

TEST_F(run_plan, AnOutputThatIsItsOwnInputIsRefused) {
  touch("o/x.png");
  host_command command = parse_command_line(
      {"--input", folder.file("o/x.png"), "--out", folder.file("o"), "--overwrite"});
  const output_naming naming = parse_output_naming(command.out);
  const std::vector<frame_task> tasks =
      plan_frames(command, naming, chosen_formats(command, naming));
  EXPECT_THROW(check_inputs_kept(tasks), usage_error);
  command.out = folder.file("elsewhere");
  EXPECT_NO_THROW(check_inputs_kept(
      plan_frames(command, parse_output_naming(command.out), chosen_formats(command, naming))));
}

TEST_F(run_plan, APercentSignIsPartOfANameUnlessItIsAFrameNumber) {
  // "%%" is a '%' in --input and --out alike; a '%' that begins no number
  // printf knows is one too; a folder that is there is one, '%' or not.
  touch("pct%dir/x.png");
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> inputs, outputs;
  } cases[] = {
      {{"--input", "@100%.png", "--out", "@o"}, {"100%.png"}, {"o/100%.png"}},
      {{"--input", "@a%%b.png", "--out", "@p%%q/"}, {"a%b.png"}, {"p%q/a%b.png"}},
      {{"--input", "@pct%dir/", "--out", "@o"}, {"pct%dir/x.png"}, {"o/x.png"}},
      {{"--input", "@pct%%dir", "--out", "@o/%%%d.png"}, {"pct%dir/x.png"}, {"o/%1.png"}},
      {{"--input", "@5%%_%02d.png", "--range", "7", "--out", "@o"}, {"5%_07.png"}, {"o/5%_07.png"}},
  };
  for (const auto& c : cases) {
    const planned result = plan(c.args);
    EXPECT_EQ(result.inputs, c.inputs) << c.args[1];
    EXPECT_EQ(result.outputs, c.outputs) << c.args[1];
  }
  EXPECT_NE(refusal({"--input", "@r%5d.png", "--range", "1"}).find("not a frame number"),
            std::string::npos);
}

TEST_F(run_plan, AnOutThatLooksLikeAnotherKindOfFileIsNoFolder) {
  touch("notes.txt");
  for (const char* name : {"result.gif", "seq.%04d", "shot.%04d.exr", "notes.txt"}) {
    EXPECT_NE(refusal({"--frames", "1", "--out", std::string("@") + name}).find("--out"),
              std::string::npos)
        << name;
  }
  // Folders of such names: given with a trailing separator, or made first.
  EXPECT_EQ(plan({"--out", "@result.gif/"}).outputs,
            std::vector<std::string>{"result.gif/render_0001.png"});
  EXPECT_EQ(plan({"--out", "@shots.v2"}).outputs,
            std::vector<std::string>{"shots.v2/render_0001.png"});
}

TEST_F(run_plan, MissingInputsAreToldInOneMessage) {
  touch("in/r.0001.png");
  touch("in/r.0003.png");
  std::filesystem::create_directories(folder.file("in/r.0005.png"));
  const input_listing listing = list_inputs({folder.file("in/r.%04d.png"), folder.file("gone.tga")},
                                            parse_frame_list("1-100000", 100000));
  try {
    check_inputs_present(listing.pictures);
    ADD_FAILURE() << "missing inputs let through";
  } catch (const file_error& error) {
    const std::string message = error.what();
    for (const std::string& part :
         {"frames 2, 4 and 6-100000 of " + folder.file("in/r.%04d.png") + " are missing",
          folder.file("in/r.0005.png") + " is a folder, not a picture file",
          folder.file("gone.tga") + " is missing"})
      EXPECT_NE(message.find(part), std::string::npos) << part << "\n" << message;
  }
}

TEST(worker_count, AsManyFramesAtOnceAsMemoryHolds) {
  constexpr std::uint64_t mib = 1 << 20;
  const struct {
    std::size_t wanted;
    std::uint64_t pixels, available;
    std::size_t workers;
  } cases[] = {
      {8, 1920 * 1080, 16384 * mib, 8},
      {8, std::uint64_t{16384} * 16384, 3 * 1024 * mib, 2},  // 1.3 GiB a frame
      {4, std::uint64_t{16384} * 16384, 512 * mib, 1},       // at least one
      {4, std::uint64_t{16384} * 16384, 0, 4},               // memory unknown
  };
  for (const auto& c : cases)
    EXPECT_EQ(workers_that_fit(c.wanted, c.pixels, c.available), c.workers) << c.available;
  // A 16-bit RGB picture takes its samples beside its view: 10 bytes a
  // pixel, two and a half times an 8-bit one's.
  EXPECT_GE(workers_that_fit(8, std::uint64_t{8192} * 8192, 2 * 1024 * mib, 4), 5u);
  EXPECT_EQ(workers_that_fit(8, std::uint64_t{8192} * 8192, 2 * 1024 * mib, 10), 2u);
}
