#include "refhost/files/folder_lock.hpp"

std::string folder_busy_message(const std::string& folder, const char* record, std::size_t size) {
  std::string holder;
  for (std::size_t i = 0; i < size && record[i] >= '0' && record[i] <= '9'; ++i)
    holder += record[i];
  return "another velloq-host run" + (holder.empty() ? "" : " (process " + holder + ")") +
         " is writing into " + folder + "; let it finish or choose another --out";
}
