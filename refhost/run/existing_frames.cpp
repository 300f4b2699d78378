#include "refhost/run/existing_frames.hpp"

#include <algorithm>
#include <optional>

#include "refhost/pictures/whole_picture_check.hpp"

bool frame_done(const frame_task& task, std::vector<std::string>& cut_short) {
  bool done = true;
  std::optional<picture_size> first;
  for (const std::string& output : task.outputs) {
    const picture_completeness there = check_picture_whole(output);
    if (there.state == picture_completeness::cut_short)
      cut_short.push_back(output);
    done = done && there.state == picture_completeness::whole &&
           (!first || (first->width == there.size.width && first->height == there.size.height));
    first = first ? first : there.size;
  }
  return done;
}

existing_frames skip_existing_frames(std::vector<frame_task>& tasks) {
  existing_frames found;
  const std::size_t planned = tasks.size();
  tasks.erase(std::remove_if(tasks.begin(), tasks.end(),
                             [&](frame_task& task) {
                               const std::size_t before = found.cut_short.size();
                               const bool done = frame_done(task, found.cut_short);
                               task.replace = found.cut_short.size() > before;
                               return done;
                             }),
              tasks.end());
  found.skipped = planned - tasks.size();
  return found;
}
