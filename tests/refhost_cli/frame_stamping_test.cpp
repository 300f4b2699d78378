// One frame from its picture to its files: written whole or not at all.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pipeline/frame_stamping.hpp"
#include "tests/module/module_path.hpp"
#include "tests/refhost_codecs/codec_test_support.hpp"

namespace {

std::string failure_of(plugin_session& session, const frame_task& task,
                       const stamping_settings& settings, std::vector<std::string>* removed) {
  try {
    stamp_frame(session, task, settings);
  } catch (const frame_failure& failure) {
    if (removed != nullptr)
      *removed = failure.removed;
    return failure.what();
  }
  return "(stamped)";
}

}  // namespace

TEST(FrameStamping, AFrameIsWrittenWholeOrNotAtAll) {
  const scratch_folder folder;
  write_file_atomically(folder.file("in.png"),
                        encode_png(*make_host_image(200, 150, Bgra8{20, 20, 20, 255})),
                        replace_policy::keep_existing);
  const bytes kept = {'k', 'e', 'p', 't'};
  write_file_atomically(folder.file("x.tga"), kept, replace_policy::keep_existing);
  plugin_session session(module_path(), session_settings{});
  stamping_settings settings;
  settings.formats = {&png_format, &tga_format};
  const frame_task task{folder.file("in.png"), 0, {folder.file("x.png"), folder.file("x.tga")}};

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

  // ...and when it fails later, none of its earlier files is left to pass
  // for this run's.
  write_file_atomically(folder.file("in.png"), {0x89, 'P', 'N', 'G'},
                        replace_policy::replace_existing);
  std::vector<std::string> removed;
  const std::string reason = failure_of(session, task, settings, &removed);
  EXPECT_NE(reason.find(folder.file("in.png") + ": not a PNG or TGA picture"), std::string::npos)
      << reason;
  EXPECT_EQ(removed, task.outputs);
  EXPECT_EQ(folder.names(), std::vector<std::string>{"in.png"});
}
