// velloq-host: runs a post-render plug-in the way the host application does,
// on the host's own built-in scene or on a picture from a file.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
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

#include "host_kit/uuid_text.hpp"
#include "refhost/console/json_events.hpp"
#include "refhost/console/printable_text.hpp"
#include "refhost/console/run_reporter.hpp"
#include "refhost/files/output_claims.hpp"
#include "refhost/files/output_file.hpp"
#include "refhost/hosting/module_location.hpp"
#include "refhost/hosting/plugin_session.hpp"
#include "refhost/pictures/picture_formats.hpp"
#include "refhost/pictures/picture_header.hpp"
#include "refhost/pipeline/frame_stamping.hpp"
#include "refhost/pipeline/session_pool.hpp"
#include "refhost/run/command_line.hpp"
#include "refhost/run/existing_frames.hpp"
#include "refhost/run/exit_status.hpp"
#include "refhost/run/facts_file.hpp"
#include "refhost/run/forecast_text.hpp"
#include "refhost/run/input_list.hpp"
#include "refhost/run/output_folder.hpp"
#include "refhost/run/output_plan.hpp"
#include "refhost/run/run_forecast.hpp"
#include "refhost/run/run_plan.hpp"
#include "refhost/system/interruption_cleanup.hpp"
#include "refhost/system/large_allocation.hpp"

namespace fs = std::filesystem;

namespace {

void print_discovery(std::ostream& out, const std::string& path, const discovery_report& found) {
  out << "plug-in            " << printable(path) << "\n"
      << "title              " << printable(found.title) << "\n"
      << "uuid               " << uuid_text(found.uuid) << "\n"
      << "interface version  " << found.interface_version << "\n"
      << "info               ";
  const PluginInfo& info = found.info;
  for (std::int32_t word : {info.newest_host_version, info.lowest_host_version, info.host_word_3,
                            info.host_word_4, info.host_word_5, info.host_word_6})
    out << word << ' ';
  out << "\n"
      << "resident           " << (found.resident ? "yes" : "no") << "\n"
      << "separate           " << (found.separate_interfaces ? "yes" : "no") << "\n";
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

// One worker per processor core, unless the frames would not fit in the
// memory the machine has; the largest picture's size from the inputs'
// headers.
int worker_count(const host_command& command, const std::vector<frame_task>& tasks,
                 std::string& note) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t asked = command.jobs > 0 ? static_cast<std::size_t>(command.jobs) : cores;
  const std::size_t jobs =
      std::max<std::size_t>(std::min<std::size_t>({asked, tasks.size(), max_jobs}), 1);
  if (command.jobs > 0 || jobs == 1)
    return static_cast<int>(jobs);
  picture_size largest{command.width, command.height};
  if (!command.inputs.empty()) {
    largest = {0, 0};
    for (const frame_task& task : tasks) {
      const std::optional<picture_size> size = read_picture_size(task.input_path);
      if (size && std::int64_t{size->width} * size->height * size->bytes_per_pixel >
                      std::int64_t{largest.width} * largest.height * largest.bytes_per_pixel)
        largest = *size;
    }
  }
  const auto pixels = static_cast<std::uint64_t>(std::int64_t{largest.width} * largest.height);
  const std::uint64_t available = available_memory();
  const std::size_t fit = workers_that_fit(jobs, pixels, available, largest.bytes_per_pixel);
  if (fit < jobs) {
    const auto mebibytes = [](std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; };
    note = std::to_string(fit) + (fit == 1 ? " frame" : " frames") + " at a time, not " +
           std::to_string(jobs) + ": a " + std::to_string(largest.width) + "x" +
           std::to_string(largest.height) + " frame takes about " +
           mebibytes(worker_memory(pixels, largest.bytes_per_pixel)) + " and " +
           mebibytes(available) + " are free";
  }
  return static_cast<int>(fit);
}

std::string refusal_text(const std::string& module_path, std::int32_t host_version) {
  return module_path + " does not offer its effector to host version " +
         std::to_string(host_version);
}

// How a run ended: its exit status and, for --json, why.
struct run_end {
  int status = 0;
  std::string reason = "done";
};

// The plan, the plug-in's answer and the exit status the run would give,
// from the same checks; nothing written, no folder made, nothing claimed.
run_end dry_run(const host_command& command, const std::vector<frame_task>& tasks,
                const std::vector<const picture_format*>& formats, const std::string& module_path,
                const session_settings& session, std::ostream& text) {
  const plugin_session probe(module_path, session);
  if (!command.quiet && probe.discovery().accepted)
    print_discovery(text, module_path, probe.discovery());
  run_forecast forecast = forecast_run(tasks, formats, command.overwrite, command.skip_existing);
  forecast.plugin_refusal = probe.discovery().accepted
                                ? frame_hosts_refused(tasks, module_path, session)
                                : refusal_text(module_path, command.host_version);
  if (command.json)
    print_forecast_json(std::cout, forecast);
  else
    print_forecast(std::cout, forecast, command.quiet);
  return {planned_exit_status(forecast), planned_exit_reason(forecast)};
}

run_end run(const host_command& command, run_totals& totals, bool& summarized) {
  if (!command.dry_run)
    interruption_cleanup::install();
  // Under --json stdout holds the JSON lines alone.
  std::ostream& text = command.json ? std::cerr : std::cout;
  const output_naming naming = parse_output_naming(command.out);
  const std::vector<const picture_format*> formats = chosen_formats(command, naming);
  const input_listing inputs = list_inputs(command.inputs, command.range);
  std::vector<frame_task> tasks = plan_frames(command, naming, formats, inputs);
  if (!command.facts_path.empty())
    attach_facts(tasks, read_facts_file(command.facts_path), command.facts_path);
  totals.frames = tasks.size();
  // The built-in scene's size is known now; a picture's only once it is read.
  if (command.inputs.empty()) {
    check_formats_hold(
        formats, command.width, command.height,
        "--size " + std::to_string(command.width) + "x" + std::to_string(command.height));
  }
  std::vector<std::string> paths;
  for (const frame_task& task : tasks)
    paths.insert(paths.end(), task.outputs.begin(), task.outputs.end());
  check_inputs_present(inputs.pictures);
  check_input_formats(inputs.pictures);
  check_inputs_kept(tasks);
  check_paths_fit(paths);
  for (const std::string& skipped : inputs.skipped)
    std::cerr << "velloq-host: warning: skipped " << printable(skipped) << "\n";

  const std::string module_path =
      command.module_path.empty() ? default_module_path() : command.module_path;
  session_settings session;
  session.host_version = command.host_version;
  session.version_text = command.version_text;
  session.language = command.language;
  if (command.dry_run) {
    summarized = command.json;
    return dry_run(command, tasks, formats, module_path, session, text);
  }
  std::string workers_note;
  session_pool pool(worker_count(command, tasks, workers_note), module_path, session);
  std::string refusal = pool.discovery().accepted ? frame_hosts_refused(tasks, module_path, session)
                                                  : refusal_text(module_path, command.host_version);
  if (!refusal.empty()) {
    std::cerr << "velloq-host: " << printable(refusal) << "\n";
    return {exit_code(exit_status::plugin_refused), refusal};
  }
  if (!command.quiet) {
    print_discovery(text, module_path, pool.discovery());
    if (!workers_note.empty())
      text << "workers            " << workers_note << "\n";
  }

  const std::unique_ptr<output_claims> claims =
      prepare_output_folder(naming.folder, paths, std::cerr, command.quiet ? nullptr : &text);
  existing_frames existing;
  if (command.skip_existing) {
    const std::size_t planned = tasks.size();
    existing = skip_existing_frames(tasks);
    totals.skipped = existing.skipped;
    if (!command.quiet && existing.skipped > 0) {
      text << "skipped " << existing.skipped << " of " << planned
           << " frames, whose pictures are all there and whole\n";
    }
    for (const std::string& picture : existing.cut_short) {
      std::cerr << "velloq-host: warning: " << printable(picture)
                << " is cut short or empty: its frame is stamped again\n";
    }
  }
  std::vector<std::string> to_write;
  for (const frame_task& task : tasks)
    to_write.insert(to_write.end(), task.outputs.begin(), task.outputs.end());
  check_outputs_free(to_write, command.overwrite, command.skip_existing,
                     {existing.cut_short.begin(), existing.cut_short.end()});
  stamping_settings settings;
  settings.formats = formats;
  settings.jpeg_quality = command.jpeg_quality;
  settings.policy =
      command.overwrite ? replace_policy::replace_existing : replace_policy::keep_existing;
  settings.facts.renderer = command.renderer;
  settings.facts.gi_method = command.gi_method;
  settings.facts.irradiance_caching = command.irradiance_caching;
  settings.setup_time = command.setup_time;
  settings.rendering_time = command.rendering_time;
  settings.abort = command.abort;
  settings.host_version = command.host_version;
  settings.version_text = command.version_text;
  settings.scene_width = command.width;
  settings.scene_height = command.height;
  settings.scene_frames = command.frames;
  // A run of fewer frames than cores lends the idle ones to the encoders.
  const int cores = std::min<int>(
      max_jobs, command.jobs > 0
                    ? command.jobs
                    : static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  settings.spare_cores = [&pool, cores] { return cores - pool.frames_in_progress(); };

  run_reporter reporter(std::cout, std::cerr, velloq_isatty(velloq_fileno(stderr)) != 0,
                        command.quiet, command.json, tasks.size());
  pool.run(tasks.size(), [&](plugin_session& worker_session, std::size_t index) {
    const auto started = std::chrono::steady_clock::now();
    const auto seconds = [&] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    };
    try {
      const render_outcome outcome = stamp_frame(worker_session, tasks[index], settings);
      reporter.written(index, tasks[index], outcome, command.abort, seconds());
    } catch (const frame_failure& failure) {
      reporter.failed(tasks[index], failure, seconds());
    }
  });
  reporter.finish(naming.folder);
  const std::size_t skipped = totals.skipped;
  totals = reporter.totals();
  totals.frames += skipped;
  totals.skipped = skipped;
  // Every worker's host objects meet the same module: each problem once.
  std::vector<std::string> problems = pool.problems();
  for (auto problem = problems.begin(); problem != problems.end(); ++problem) {
    if (std::find(problems.begin(), problem, *problem) == problem)
      std::cerr << "velloq-host: warning: " << printable(*problem) << "\n";
  }
  if (command.inputs.empty() && naming.file_name.empty())
    report_other_frames(naming.folder, paths);
  if (reporter.failures() == 0)
    return {};
  return {exit_code(exit_status::failed),
          std::to_string(reporter.failures()) + " of " + std::to_string(tasks.size()) +
              (tasks.size() == 1 ? " frame" : " frames") + " failed"};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  host_command command;
  try {
    command = parse_command_line(args);
  } catch (const usage_error& error) {
    std::cerr << "velloq-host: " << printable(error.what()) << "\n";
    // A wrapper that asked for JSON gets its summary even so.
    const auto given = [&](const char* option) {
      return std::find(args.begin(), args.end(), option) != args.end();
    };
    if (given("--json"))
      std::cout << json_summary_line({}, exit_code(exit_status::usage), error.what(),
                                     given("--dry-run"))
                << std::endl;
    return exit_code(exit_status::usage);
  }
  if (command.help) {
    std::cout << usage_text();
    return exit_code(exit_status::done);
  }
  if (command.version) {
    std::cout << "velloq-host " VELLOQ_VERSION "\n";
    return exit_code(exit_status::done);
  }
  run_totals totals;
  bool summarized = false;
  run_end end;
  try {
    end = run(command, totals, summarized);
  } catch (const std::exception& error) {
    std::cerr << "velloq-host: " << printable(error.what()) << "\n";
    end = {exit_code(exit_status_for(error)), error.what()};
  }
  if (command.json && !summarized)
    std::cout << json_summary_line(totals, end.status, end.reason, command.dry_run) << std::endl;
  return end.status;
}
