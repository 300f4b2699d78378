#include "refhost/pipeline/frame_stamping.hpp"

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "refhost/files/file_io.hpp"
#include "refhost/files/frame_commit.hpp"
#include "refhost/hosting/scene.hpp"
#include "refhost/pictures/picture_file.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace fs = std::filesystem;

namespace {

// From this version on the host reports its setup time in milliseconds.
constexpr std::int32_t setup_milliseconds_from_version = 440468;

using clock_type = std::chrono::steady_clock;

std::int32_t milliseconds_between(clock_type::time_point start, clock_type::time_point end) {
  return static_cast<std::int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count());
}

// The picture, made the way the host makes a render: the setup loads what
// the render needs (opens the file and reads as much as tells how to read
// it), the rendering makes the picture (reads and decodes it, or renders
// the built-in scene). Both are timed as the host times them.
picture produce_picture(const frame_task& task, const stamping_settings& settings,
                        render_facts& facts) {
  const clock_type::time_point setup_start = clock_type::now();
  std::unique_ptr<picture_file> file;
  if (!task.input_path.empty())
    file = std::make_unique<picture_file>(task.input_path);
  const clock_type::time_point render_start = clock_type::now();
  picture made;
  if (file) {
    made = file->decode();
    file.reset();  // a frame in flight holds its picture, not the file too
  } else {
    made.view = render_scene(settings.scene_width, settings.scene_height, task.scene_frame,
                             settings.scene_frames);
  }
  const clock_type::time_point render_end = clock_type::now();
  check_formats_hold(settings.formats, made.view->width(), made.view->height(),
                     task.input_path.empty() ? "the built-in scene" : task.input_path);

  std::int32_t setup = milliseconds_between(setup_start, render_start);
  std::int32_t rendering = milliseconds_between(render_start, render_end);
  std::int32_t host_version = settings.host_version;
  if (task.facts) {
    setup = task.facts->setup_ms;
    rendering = task.facts->rendering_ms;
    host_version = task.facts->host_version.value_or(host_version);
  }
  if (host_version < setup_milliseconds_from_version)
    setup /= 1000;
  facts.setup_time = settings.setup_time.value_or(setup);
  facts.rendering_time = settings.rendering_time.value_or(rendering);
  return made;
}

// Every format goes to a temporary first; the names are given only when
// all are complete, and all at once: a frame is written whole or not at all.
void write_outputs(const picture& stamped, const frame_task& task,
                   const stamping_settings& settings) {
  std::vector<std::unique_ptr<output_file>> files;
  for (std::size_t k = 0; k < settings.formats.size(); ++k) {
    files.push_back(std::make_unique<output_file>(task.outputs[k]));
    output_file& file = *files.back();
    encode_settings encoding;
    encoding.spare_threads = settings.spare_cores ? settings.spare_cores() : 0;
    encoding.jpeg_quality = settings.jpeg_quality;
    try {
      settings.formats[k]->write(
          stamped, [&file](const unsigned char* data, std::size_t size) { file.write(data, size); },
          encoding);
    } catch (const image_format_error& error) {
      // The encoder's reason (memory that ran out) names no frame.
      throw image_format_error(task.outputs[k] + ": " + error.what());
    }
  }
  commit_together(files, task.replace ? replace_policy::replace_existing : settings.policy);
}

// What is there under a failed frame's names: an earlier run's files,
// kept, which the user must not take for this run's.
std::vector<std::string> files_already_there(const frame_task& task) {
  std::vector<std::string> there;
  for (const std::string& path : task.outputs) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error)))
      there.push_back(path);
  }
  return there;
}

}  // namespace

void check_formats_hold(const std::vector<const picture_format*>& formats, std::int32_t width,
                        std::int32_t height, const std::string& source) {
  for (const picture_format* format : formats) {
    const std::string limitation = format->size_limitation(width, height);
    if (!limitation.empty())
      throw image_format_error(source + ": " + limitation + "; nothing was written");
  }
}

render_outcome stamp_frame(plugin_session& session, const frame_task& task,
                           const stamping_settings& settings) {
  try {
    picture stamped;
    render_facts facts = settings.facts;
    std::optional<render_host> host;
    if (task.facts) {
      facts.renderer = task.facts->renderer.value_or(facts.renderer);
      facts.gi_method = task.facts->gi_method.value_or(facts.gi_method);
      facts.irradiance_caching = task.facts->irradiance_caching.value_or(facts.irradiance_caching);
      if (task.facts->host_version || task.facts->version_text) {
        host = render_host{task.facts->host_version.value_or(settings.host_version),
                           task.facts->version_text.value_or(settings.version_text)};
      }
    }
    const render_outcome outcome = session.render(
        facts, settings.abort,
        [&](render_facts& measured) {
          stamped = produce_picture(task, settings, measured);
          return stamped.view.get();
        },
        host ? &*host : nullptr);
    // What the plug-in drew reaches the samples a deeper picture keeps.
    stamped.take_changes();
    write_outputs(stamped, task, settings);
    return outcome;
  } catch (const std::bad_alloc&) {
    throw frame_failure((task.input_path.empty() ? task.outputs.front() : task.input_path) +
                            ": not enough memory for this frame",
                        files_already_there(task));
  } catch (const std::exception& error) {
    throw frame_failure(error.what(), files_already_there(task));
  }
}
