#pragma once
#include <string>

// The folder holding the running program, without a trailing separator.
std::string executable_dir();
