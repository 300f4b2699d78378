#include "refhost/files/frame_commit.hpp"

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "refhost/files/output_file_platform.hpp"
#include "refhost/system/interruption_cleanup.hpp"

namespace fs = std::filesystem;

void commit_together(const std::vector<std::unique_ptr<output_file>>& files,
                     replace_policy policy) {
  for (const std::unique_ptr<output_file>& file : files) file->finish();
  const interruption_cleanup::guard step;
  // What each name holds now stays reachable under a second, hidden name
  // until every file has its name: a failed rename puts it back.
  std::vector<std::string> kept(files.size());
  for (std::size_t k = 0; k < files.size() && files.size() > 1; ++k) {
    std::error_code error;
    if (policy != replace_policy::replace_existing ||
        !fs::exists(fs::symlink_status(files[k]->target(), error)))
      continue;
    const std::string second_name = temporary_path_for(files[k]->target());
    interruption_cleanup::track(second_name);
    bool ignored = false;
    if (output_platform::link_new(files[k]->target(), second_name, ignored))
      kept[k] = second_name;
    else
      interruption_cleanup::release(second_name);
  }
  const auto let_go_of_kept = [&] {
    for (const std::string& second_name : kept) {
      if (!second_name.empty()) {
        output_platform::remove(second_name);
        interruption_cleanup::release(second_name);
      }
    }
  };
  std::size_t named = 0;
  try {
    for (; named < files.size(); ++named) files[named]->rename_into_place(policy);
  } catch (...) {
    for (std::size_t k = 0; k < named; ++k) {
      bool ignored = false;
      if (kept[k].empty())
        output_platform::remove(files[k]->target());
      else if (output_platform::rename_file(kept[k], files[k]->target(), true, ignored))
        interruption_cleanup::release(std::exchange(kept[k], std::string()));
    }
    let_go_of_kept();
    throw;
  }
  let_go_of_kept();
}
