// One frame from its picture to its files: written whole or not at all.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pipeline/frame_stamping.hpp"
#include "tests/support/codec_test_support.hpp"
#include "tests/support/module_path.hpp"

namespace {

std::string failure_of(plugin_session& session, const frame_task& task,
                       const stamping_settings& settings, std::vector<std::string>* kept) {
  try {
    stamp_frame(session, task, settings);
  } catch (const frame_failure& failure) {
    if (kept != nullptr)
      *kept = failure.kept;
    return failure.what();
  }
  return "(stamped)";
}

}  // namespace

TEST(frame_stamping, AFrameIsWrittenWholeOrNotAtAll) {
  const scratch_folder folder;
  write_file_atomically(folder.file("in.png"),
                        encode_png(*make_host_image(200, 150, Bgra8{20, 20, 20, 255})),
                        replace_policy::keep_existing);
  const bytes kept = {'k', 'e', 'p', 't'};
  write_file_atomically(folder.file("x.tga"), kept, replace_policy::keep_existing);
  plugin_session session(module_path(), session_settings{});
  stamping_settings settings;
  settings.formats = {&png_format, &tga_format};
  const frame_task task{
      folder.file("in.png"), 0, {folder.file("x.png"), folder.file("x.tga")}, false, 1,
      std::nullopt};

  // The TGA's name is taken when its turn comes: the PNG given its name
  // a moment before goes again, and the file already there stays.
  EXPECT_NE(failure_of(session, task, settings, nullptr).find("x.tga exists already"),
            std::string::npos);
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.png", "x.tga"}));
  EXPECT_EQ(read_file_bytes(folder.file("x.tga"), 100), kept);

  // Allowed to replace, the frame is written in both formats...
  settings.policy = replace_policy::replace_existing;
  EXPECT_EQ(failure_of(session, task, settings, nullptr), "(stamped)");
  EXPECT_EQ(decode_image_file(folder.file("x.tga"))->width(), 200);
  EXPECT_EQ(decode_image_file(folder.file("x.png"))->width(), 200);

  // ...and when it fails later, its earlier files stay as they were and
  // are named, so that nobody takes them for this run's.
  const bytes earlier_png = read_file_bytes(folder.file("x.png"), 1 << 20);
  write_file_atomically(folder.file("in.png"), {0x89, 'P', 'N', 'G'},
                        replace_policy::replace_existing);
  std::vector<std::string> kept_files;
  const std::string reason = failure_of(session, task, settings, &kept_files);
  EXPECT_NE(reason.find(folder.file("in.png") + ": not a PNG, TGA or JPEG picture"),
            std::string::npos)
      << reason;
  EXPECT_EQ(kept_files, task.outputs);
  EXPECT_EQ(read_file_bytes(folder.file("x.png"), 1 << 20), earlier_png);
  EXPECT_EQ(folder.names(), (std::vector<std::string>{"in.png", "x.png", "x.tga"}));
}
