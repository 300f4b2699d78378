#pragma once
// The output folder made ready for a run's first picture: made if missing,
// every output claimed for as long as the returned claims live, and what
// runs killed outright left there put right: frames they left half renamed
// put back, their partial files, claims and leases removed.

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "refhost/files/output_claims.hpp"

// Throws file_error (the folder cannot be made or written),
// output_busy_error and output_name_clash (output_claims::claim). Says on
// `notices` what it changed under the outputs' names, and on `details`,
// unless null, each partial file removed.
std::unique_ptr<output_claims> prepare_output_folder(const std::string& folder,
                                                     const std::vector<std::string>& outputs,
                                                     std::ostream& notices, std::ostream* details);
