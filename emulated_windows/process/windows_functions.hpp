#pragma once
// Which system functions each Windows version exports, from the table in
// windows_functions.txt (generated from mingw-w64's import libraries and
// headers, built into the program).

#include <optional>
#include <string>

#include "emulated_windows/process/windows_machine.hpp"

// What the table says of DLL!function.
enum class function_record {
  dated,     // exported from a known version on
  undated,   // exported by some version of the DLL; which first is not known
  unlisted,  // not among the DLL's exports, or a DLL the table does not list
};

// The record of `function` in `dll` (any case) and, when dated, the first
// version whose DLL exports it.
function_record windows_function_record(const std::string& dll, const std::string& function,
                                        windows_version* first = nullptr);

// The first version whose DLL `dll` exports `function`; empty when the
// table does not date it.
std::optional<windows_version> first_windows_with(const std::string& dll,
                                                  const std::string& function);

// Whether `version` is known to export dll!function.
bool windows_exports(windows_version version, const std::string& dll, const std::string& function);

// Whether the table lists the exports of `dll` (a DLL that Windows ships).
bool windows_lists_dll(const std::string& dll);

// GCC's runtime DLLs as mingw builds them (libgcc_s_dw2-1.dll,
// libstdc++-6.dll, libwinpthread-1.dll, ...), which Windows does not ship: a
// module importing one loads only where that DLL is already there. What the
// DLL is ("mingw's shared C++ runtime"), or null for any other DLL.
const char* gcc_runtime_dll(const std::string& dll);
