#include "refhost/run/run_forecast.hpp"

#include <algorithm>
#include <optional>

#include "refhost/files/output_claims.hpp"
#include "refhost/pictures/picture_header.hpp"
#include "refhost/run/existing_frames.hpp"
#include "refhost/run/exit_status.hpp"
#include "refhost/run/output_plan.hpp"

namespace {

bool refused(output_fate fate) {
  return fate != output_fate::write && fate != output_fate::replace && fate != output_fate::keep;
}

// Why a frame would fail once its picture is read: a file that is no PNG
// or TGA, a size a format cannot hold. What only decoding finds (a corrupt
// body) is not foreseen.
std::string frame_failure_of(const frame_task& task,
                             const std::vector<const picture_format*>& formats) {
  if (task.input_path.empty())
    return "";
  const std::optional<picture_size> size = read_picture_size(task.input_path);
  if (!size)
    return task.input_path + " cannot be read as a PNG, TGA or JPEG picture";
  for (const picture_format* format : formats) {
    const std::string limitation = format->size_limitation(size->width, size->height);
    if (!limitation.empty())
      return task.input_path + ": " + limitation;
  }
  return "";
}

}  // namespace

const char* fate_name(output_fate fate) {
  switch (fate) {
    case output_fate::write:
      return "new";
    case output_fate::replace:
      return "replace";
    case output_fate::keep:
      return "kept";
    case output_fate::refused_there:
      return "exists";
    case output_fate::refused_folder:
      return "folder";
    case output_fate::refused_read_only:
      return "read-only";
    case output_fate::refused_busy:
      return "busy";
  }
  return "?";
}

run_forecast forecast_run(const std::vector<frame_task>& tasks,
                          const std::vector<const picture_format*>& formats, bool overwrite,
                          bool skip_existing) {
  run_forecast forecast;
  forecast.skipping_existing = skip_existing;
  for (const frame_task& task : tasks) {
    planned_frame frame;
    frame.task = task;
    // As the run judges them: a frame is left out only when its pictures
    // read whole; one cut short is stamped again over it.
    std::vector<std::string> cut_short;
    frame.skipped = skip_existing && frame_done(task, cut_short);
    for (const std::string& path : task.outputs) {
      planned_output output{path, output_fate::write, live_claim_holder(path)};
      const output_state state = inspect_output(path);
      const bool replaceable =
          overwrite || std::find(cut_short.begin(), cut_short.end(), path) != cut_short.end();
      if (!output.holder.empty())
        output.fate = output_fate::refused_busy;
      else if (frame.skipped)
        output.fate = output_fate::keep;
      else if (state != output_state::absent && !replaceable)
        output.fate = output_fate::refused_there;
      else if (state == output_state::folder)
        output.fate = output_fate::refused_folder;
      else if (state == output_state::read_only)
        output.fate = output_fate::refused_read_only;
      else if (state == output_state::present)
        output.fate = output_fate::replace;
      frame.outputs.push_back(std::move(output));
    }
    if (!frame.skipped)
      frame.failure = frame_failure_of(task, formats);
    forecast.frames.push_back(std::move(frame));
  }
  return forecast;
}

namespace {

// The first refusal of one kind, and how many outputs it holds.
struct refusal_count {
  const planned_output* first = nullptr;
  std::size_t count = 0;
};

refusal_count count_refused(const run_forecast& forecast, bool busy) {
  refusal_count found;
  for (const planned_frame& frame : forecast.frames) {
    for (const planned_output& output : frame.outputs) {
      if (refused(output.fate) && (output.fate == output_fate::refused_busy) == busy) {
        found.first = found.first != nullptr ? found.first : &output;
        ++found.count;
      }
    }
  }
  return found;
}

std::size_t failing_frames(const run_forecast& forecast, const std::string** first) {
  std::size_t count = 0;
  for (const planned_frame& frame : forecast.frames) {
    if (!frame.failure.empty() && count++ == 0)
      *first = &frame.failure;
  }
  return count;
}

}  // namespace

int planned_exit_status(const run_forecast& forecast) {
  if (!forecast.plugin_refusal.empty())
    return exit_code(exit_status::plugin_refused);
  if (count_refused(forecast, true).count > 0)
    return exit_code(exit_status::held_elsewhere);
  if (count_refused(forecast, false).count > 0)
    return exit_code(exit_status::failed);
  const std::string* failure = nullptr;
  return exit_code(failing_frames(forecast, &failure) > 0 ? exit_status::failed
                                                          : exit_status::done);
}

std::string planned_exit_reason(const run_forecast& forecast) {
  if (!forecast.plugin_refusal.empty())
    return forecast.plugin_refusal;
  const refusal_count busy = count_refused(forecast, true);
  if (busy.count > 0) {
    return busy.first->path + " is being written by another velloq-host run" + busy.first->holder +
           "; nothing was written (let it finish, or leave that frame out)";
  }
  const refusal_count kept = count_refused(forecast, false);
  if (kept.count > 0) {
    const std::string& path = kept.first->path;
    switch (kept.first->fate) {
      case output_fate::refused_folder:
        return path + " is a folder; nothing was written";
      case output_fate::refused_read_only:
        return path + " is read-only, so it is kept; nothing was written";
      default: {
        std::vector<std::string> there;
        for (const planned_frame& frame : forecast.frames) {
          for (const planned_output& output : frame.outputs) {
            if (output.fate == output_fate::refused_there)
              there.push_back(output.path);
          }
        }
        return outputs_there_text(there, forecast.skipping_existing);
      }
    }
  }
  const std::string* failure = nullptr;
  const std::size_t failing = failing_frames(forecast, &failure);
  if (failing > 0) {
    return std::to_string(failing) + " of " + std::to_string(forecast.frames.size()) +
           (forecast.frames.size() == 1 ? " frame" : " frames") + " failed: " + *failure;
  }
  return "done";
}
