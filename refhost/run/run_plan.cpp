#include "refhost/run/run_plan.hpp"

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/run/input_list.hpp"

std::vector<const picture_format*> chosen_formats(const host_command& command,
                                                  const output_naming& naming) {
  std::vector<const picture_format*> formats;
  if (naming.format != nullptr) {
    const bool same = command.write_png == (naming.format == &png_format) &&
                      command.write_tga == (naming.format == &tga_format) &&
                      command.write_jpeg == (naming.format == &jpeg_format);
    if (command.format_given && !same) {
      throw usage_error("--out " + naming.file_name + " is a " + naming.format->name +
                        " file, but another --format was asked for");
    }
    formats = {naming.format};
  } else {
    if (command.write_png)
      formats.push_back(&png_format);
    if (command.write_tga)
      formats.push_back(&tga_format);
    if (command.write_jpeg)
      formats.push_back(&jpeg_format);
  }
  if (command.jpeg_quality_given &&
      std::find(formats.begin(), formats.end(), &jpeg_format) == formats.end())
    throw usage_error(
        "--jpeg-quality is for JPEG pictures, but the run writes none (--format jpg)");
  return formats;
}

std::vector<frame_task> plan_frames(const host_command& command, const output_naming& naming,
                                    const std::vector<const picture_format*>& formats) {
  return plan_frames(command, naming, formats, list_inputs(command.inputs, command.range));
}

std::vector<frame_task> plan_frames(const host_command& command, const output_naming& naming,
                                    const std::vector<const picture_format*>& formats,
                                    const input_listing& inputs) {
  std::vector<frame_task> tasks;
  if (command.inputs.empty()) {
    for (std::int32_t frame = 0; frame < command.frames; ++frame) {
      tasks.push_back(frame_task{"", frame, {}, false, frame + 1, std::nullopt});
    }
  } else {
    for (const input_picture& input : inputs.pictures) {
      tasks.push_back(frame_task{input.path, 0, {}, false, input.number, std::nullopt});
    }
  }
  if (!naming.file_name.empty() && !naming.pattern && tasks.size() > 1) {
    throw usage_error("--out " + naming.file_name + " names one picture, but the run writes " +
                      std::to_string(tasks.size()) +
                      "; give a folder or a numbered name such as shot.%04d.png");
  }
  std::map<std::string, std::size_t> first_writer;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    for (const picture_format* format : formats) {
      std::string path = frame_output_path(naming, tasks[i].input_path, tasks[i].number, *format);
      const auto [found, fresh] = first_writer.emplace(path, i);
      if (!fresh) {
        throw usage_error("two inputs, " + tasks[found->second].input_path + " and " +
                          tasks[i].input_path + ", would both be written to " + path);
      }
      tasks[i].outputs.push_back(std::move(path));
    }
  }
  return tasks;
}

void check_inputs_kept(const std::vector<frame_task>& tasks) {
  // Every input by the file it is, through links too; an output by its
  // own name, as a link there is replaced, not followed.
  std::map<file_identity, const std::string*> inputs;
  for (const frame_task& task : tasks) {
    for (bool follow_links : {true, false}) {
      if (const std::optional<file_identity> identity =
              identify_file(task.input_path, follow_links))
        inputs.emplace(*identity, &task.input_path);
    }
  }
  for (const frame_task& task : tasks) {
    for (const std::string& output : task.outputs) {
      const std::optional<file_identity> identity = identify_file(output, false);
      const auto input = identity ? inputs.find(*identity) : inputs.end();
      if (input == inputs.end())
        continue;
      if (*input->second == task.input_path)
        throw usage_error(output + " is the input itself; write into another --out folder");
      throw usage_error(output + " is an input of this run, which the frame of " + task.input_path +
                        " would replace; write into another --out folder or name the outputs "
                        "otherwise");
    }
  }
}

std::uint64_t worker_memory(std::uint64_t pixels, unsigned bytes_per_pixel) {
  // A whole frame's filtered rows and its compressed stream each take at
  // most png_whole_frame_limit bytes.
  return pixels * bytes_per_pixel * 13 / 10 + 2 * std::uint64_t{png_whole_frame_limit} +
         (std::uint64_t{8} << 20);
}

std::size_t workers_that_fit(std::size_t wanted, std::uint64_t largest_pixels,
                             std::uint64_t available, unsigned bytes_per_pixel) {
  if (available == 0)
    return wanted;
  const std::uint64_t fit =
      std::max<std::uint64_t>(available / worker_memory(largest_pixels, bytes_per_pixel), 1);
  return static_cast<std::size_t>(std::min<std::uint64_t>(fit, wanted));
}
