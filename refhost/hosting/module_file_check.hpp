#pragma once
// A plug-in module checked before the system's loader maps it. The loader
// trusts the offsets in the module's headers and maps what they name; in a
// truncated file that lies past the end, and the first touch kills the
// process (SIGBUS) instead of failing the load. Checking that every range
// the headers name lies inside the file turns that into a message.

#include <cstddef>
#include <string>

// The largest module file velloq-host loads.
inline constexpr std::size_t max_module_file_bytes = std::size_t{256} << 20;

// What is wrong with an ELF shared object (the native module), or with a
// PE image (Velloq.dll): headers or sections that reach past the end of the
// data, a header too short or of an unknown kind. Empty when nothing is.
std::string elf_module_problem(const unsigned char* data, std::size_t size);
std::string pe_module_problem(const unsigned char* data, std::size_t size);

// Checks the module file at `path` in this platform's format and returns
// the path to hand the loader: made absolute, so that a bare "Velloq.so"
// is the file in the current folder and never a library the system's
// search path finds. Throws module_error naming the path and the problem.
std::string checked_module_path(const std::string& path);
