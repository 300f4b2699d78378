#include "refhost/folder_lock.hpp"

std::string folder_busy_message(const std::string& folder, const std::string& holder) {
  return "another velloq-host run" + (holder.empty() ? "" : " (process " + holder + ")") +
         " is writing into " + folder + "; let it finish or choose another --out";
}
