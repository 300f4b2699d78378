#include "refhost/run/existing_frames.hpp"

#include <algorithm>

#include "refhost/pictures/whole_picture_check.hpp"

existing_frames skip_existing_frames(std::vector<frame_task>& tasks) {
  existing_frames found;
  const std::size_t planned = tasks.size();
  tasks.erase(std::remove_if(tasks.begin(), tasks.end(),
                             [&](frame_task& task) {
                               bool done = true;
                               std::vector<picture_size> sizes;
                               for (const std::string& output : task.outputs) {
                                 const picture_completeness there = check_picture_whole(output);
                                 if (there.state == picture_completeness::cut_short) {
                                   found.cut_short.push_back(output);
                                   task.replace = true;
                                 }
                                 done = done && there.state == picture_completeness::whole &&
                                        (sizes.empty() || (sizes[0].width == there.size.width &&
                                                           sizes[0].height == there.size.height));
                                 sizes.push_back(there.size);
                               }
                               return done;
                             }),
              tasks.end());
  found.skipped = planned - tasks.size();
  return found;
}
