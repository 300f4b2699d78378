#pragma once
// The host machine's environment as the emulated Windows has it: its
// folders (a Windows XP installation's), the user's name and the
// computer's. GetEnvironmentVariable starts from it; the shell's folders
// and the user's name come from it.

#include <map>
#include <string>

const std::map<std::string, std::string>& host_environment();
