#include "refhost/run/output_folder.hpp"

#include <filesystem>
#include <functional>
#include <system_error>

#include "refhost/console/printable_text.hpp"
#include "refhost/files/frame_commit.hpp"
#include "refhost/files/output_file.hpp"

namespace fs = std::filesystem;

std::unique_ptr<output_claims> prepare_output_folder(const std::string& folder,
                                                     const std::vector<std::string>& outputs,
                                                     std::ostream& notices, std::ostream* details) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    throw file_error("cannot make the folder " + folder + ": " + error.message() +
                     "; nothing was written");
  }
  auto claims = std::make_unique<output_claims>(folder);
  claims->claim(outputs);
  claims->remove_dead_runs();
  // Half-renamed frames first: their earlier files wait under temporary
  // names.
  const auto hold = [&](const std::vector<std::string>& keys, const std::function<void()>& work) {
    return claims->while_holding(keys, work);
  };
  const frame_recovery recovery = recover_interrupted_frames(folder, hold);
  for (const recovered_frame& frame : recovery.frames) {
    for (const std::string& name : frame.restored) {
      notices << "velloq-host: put back the earlier " << printable(name)
              << ", which an interrupted run had replaced before it finished its frame\n";
    }
    for (const std::string& name : frame.removed) {
      notices << "velloq-host: removed " << printable(name)
              << ", written by an interrupted run that did not finish its frame\n";
    }
  }
  const auto writer_gone = [&](const std::string& key) { return claims->writer_gone(key); };
  for (const std::string& name : remove_stale_temporaries(folder, writer_gone, recovery.kept)) {
    if (details != nullptr)
      *details << "removed " << printable(name) << ", left by an interrupted run\n";
  }
  return claims;
}
