// velloq-host: runs a post-render plug-in the way the host application does,
// on the host's own built-in scene or on a picture from a file.

#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define velloq_isatty _isatty
#define velloq_fileno _fileno
#else
#include <unistd.h>
#define velloq_isatty isatty
#define velloq_fileno fileno
#endif

#include "refhost/command_line.hpp"
#include "refhost/executable_dir.hpp"
#include "refhost/file_io.hpp"
#include "refhost/folder_lock.hpp"
#include "refhost/interruption_cleanup.hpp"
#include "refhost/output_plan.hpp"
#include "refhost/picture_formats.hpp"
#include "refhost/plugin_session.hpp"
#include "refhost/png_codec.hpp"
#include "refhost/printable_text.hpp"
#include "refhost/scene.hpp"

namespace {

#if defined(_WIN32)
constexpr const char* module_file_name = "\\Velloq.dll";
#else
constexpr const char* module_file_name = "/Velloq.so";
#endif

// From this version on the host reports its setup time in milliseconds.
constexpr std::int32_t setup_milliseconds_from_version = 440468;

using clock_type = std::chrono::steady_clock;

std::int32_t milliseconds_since(clock_type::time_point start) {
  return static_cast<std::int32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - start).count());
}

std::string uuid_text(const Uuid& uuid) {
  std::ostringstream text;
  text << std::hex << std::uppercase << std::setfill('0') << std::setw(8) << uuid.words[0] << '-'
       << std::setw(4) << (uuid.words[1] >> 16) << '-' << std::setw(4) << (uuid.words[1] & 0xFFFF)
       << '-' << std::setw(4) << (uuid.words[2] >> 16) << '-' << std::setw(4)
       << (uuid.words[2] & 0xFFFF) << std::setw(8) << uuid.words[3];
  return text.str();
}

void print_discovery(const std::string& path, const discovery_report& found) {
  std::cout << "plug-in            " << printable(path) << "\n"
            << "title              " << printable(found.title) << "\n"
            << "uuid               " << uuid_text(found.uuid) << "\n"
            << "interface version  " << found.interface_version << "\n"
            << "info               ";
  const PluginInfo& info = found.info;
  for (std::int32_t word : {info.newest_host_version, info.lowest_host_version, info.host_word_3,
                            info.host_word_4, info.host_word_5, info.host_word_6})
    std::cout << word << ' ';
  std::cout << "\n"
            << "resident           " << (found.resident ? "yes" : "no") << "\n"
            << "separate           " << (found.separate_interfaces ? "yes" : "no") << "\n";
}

// Every format asked for must hold the picture before anything is written.
void check_formats_hold(const std::vector<const picture_format*>& formats, std::int32_t width,
                        std::int32_t height, const std::string& source) {
  for (const picture_format* format : formats) {
    const std::string limitation = format->size_limitation(width, height);
    if (!limitation.empty())
      throw image_format_error(source + ": " + limitation + "; nothing was written");
  }
}

void report_other_frames(const std::string& folder, const std::vector<std::string>& written) {
  const std::vector<std::string> others = other_frame_pictures(folder, written);
  if (others.empty())
    return;
  std::cerr << "velloq-host: warning: " << printable(folder) << " also holds " << others.size()
            << (others.size() == 1 ? " picture" : " pictures") << " this run did not write ("
            << printable(others.front())
            << (others.size() > 1 ? " to " + printable(others.back()) : std::string()) << ")\n";
}

// One run at a time in a folder; what runs that are gone left there can
// go, and nothing there is replaced unless the user said so. The lock is
// held until the returned object goes.
std::unique_ptr<folder_lock> claim_output_folder(const host_command& command,
                                                 const std::vector<std::string>& paths) {
  std::filesystem::create_directories(command.out_dir);
  auto lock = std::make_unique<folder_lock>(command.out_dir);
  if (!lock->held()) {
    std::cerr << "velloq-host: warning: cannot lock " << printable(command.out_dir) << " ("
              << printable(lock->unsupported_reason())
              << "): another run writing there would go unnoticed, and partial files left "
                 "there stay\n";
  } else {
    for (const std::string& name : remove_stale_temporaries(command.out_dir)) {
      if (!command.quiet)
        std::cout << "removed " << printable(name) << ", left by an interrupted run\n";
    }
  }
  check_outputs_free(paths, command.overwrite);
  return lock;
}

int run(const host_command& command) {
  interruption_cleanup::install();
  // Inputs first: a bad picture is refused before anything is written.
  host_image_ptr input;
  if (!command.input_path.empty())
    input = decode_image_file(command.input_path);
  std::vector<const picture_format*> formats{&png_format};
  if (command.write_tga)
    formats.push_back(&tga_format);
  if (input) {
    check_formats_hold(formats, input->width(), input->height(), command.input_path);
  } else {
    check_formats_hold(
        formats, command.width, command.height,
        "--size " + std::to_string(command.width) + "x" + std::to_string(command.height));
  }

  const std::string module_path =
      command.module_path.empty() ? executable_dir() + module_file_name : command.module_path;
  session_settings settings;
  settings.host_version = command.host_version;
  settings.version_text = command.version_text;
  settings.language = command.language;
  plugin_session session(module_path, settings);
  if (!session.discovery().accepted) {
    std::cerr << "velloq-host: " << printable(module_path)
              << " does not offer its effector to host version " << command.host_version << "\n";
    return 3;
  }
  if (!command.quiet)
    print_discovery(module_path, session.discovery());

  std::vector<std::string> paths;
  for (std::int32_t frame = 0; frame < command.frames; ++frame) {
    for (const picture_format* format : formats) {
      paths.push_back(frame_picture_path(command.out_dir, frame, *format));
    }
  }
  const std::unique_ptr<folder_lock> lock = claim_output_folder(command, paths);
  const replace_policy policy =
      command.overwrite ? replace_policy::replace_existing : replace_policy::keep_existing;

  const bool show_progress =
      command.frames > 1 && !command.quiet && velloq_isatty(velloq_fileno(stderr)) != 0;
  const clock_type::time_point animation_start = clock_type::now();

  for (std::int32_t frame = 0; frame < command.frames; ++frame) {
    render_facts facts;
    facts.renderer = command.renderer;
    facts.gi_method = command.gi_method;
    facts.irradiance_caching = command.irradiance_caching;
    host_image_ptr picture;

    const render_outcome outcome =
        session.render(facts, command.abort, [&](render_facts& known) -> memory_image* {
          const clock_type::time_point setup_start = clock_type::now();
          const clock_type::time_point render_start = clock_type::now();
          if (input) {
            picture = make_host_image(input->width(), input->height());
            picture->pixels() = input->pixels();
          } else {
            picture = render_scene(command.width, command.height, frame, command.frames);
          }
          const std::int32_t rendering = milliseconds_since(render_start);
          std::int32_t setup = milliseconds_since(setup_start) - rendering;
          if (command.host_version < setup_milliseconds_from_version)
            setup /= 1000;
          known.setup_time = command.setup_time.value_or(setup);
          known.rendering_time = command.rendering_time.value_or(rendering);
          return picture.get();
        });
    if (!command.abort && outcome.notifications != 1) {
      std::cerr << "velloq-host: warning: the plug-in reported " << outcome.notifications
                << " picture changes for frame " << frame + 1 << "\n";
    }

    const std::size_t first_path = static_cast<std::size_t>(frame) * formats.size();
    for (std::size_t k = 0; k < formats.size(); ++k) {
      write_file_atomically(paths[first_path + k], formats[k]->encode(*picture), policy);
    }
    if (show_progress) {
      std::cerr << "\rframe " << frame + 1 << " of " << command.frames << ", " << std::fixed
                << std::setprecision(1) << milliseconds_since(animation_start) / 1000.0
                << " s elapsed" << std::flush;
    }
    if (!command.quiet && !show_progress) {
      std::cout << "frame " << frame + 1 << " of " << command.frames << ": "
                << (outcome.notifications != 0 ? "stamped" : "left as rendered") << ", wrote "
                << printable(paths[first_path]) << "\n";
    }
  }
  if (show_progress)
    std::cerr << "\n";
  if (show_progress)
    std::cout << "wrote " << command.frames << " frames to " << printable(command.out_dir) << "\n";
  for (const std::string& problem : session.problems()) {
    std::cerr << "velloq-host: warning: " << printable(problem) << "\n";
  }
  report_other_frames(command.out_dir, paths);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  host_command command;
  try {
    command = parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const usage_error& error) {
    std::cerr << "velloq-host: " << printable(error.what()) << "\n";
    return 2;
  }
  if (command.help) {
    std::cout << usage_text();
    return 0;
  }
  try {
    return run(command);
  } catch (const std::exception& error) {
    std::cerr << "velloq-host: " << printable(error.what()) << "\n";
    return 1;
  }
}
