#pragma once
// Which system functions each Windows version exports, from the list in
// windows_functions.txt (built into the program).

#include <optional>
#include <string>

#include "emulated_windows/process/windows_machine.hpp"

// The first version whose DLL `dll` (any case) exports `function`; empty
// when the list does not know the function.
std::optional<windows_version> first_windows_with(const std::string& dll,
                                                  const std::string& function);

// Whether `version` is known to export dll!function.
bool windows_exports(windows_version version, const std::string& dll, const std::string& function);
