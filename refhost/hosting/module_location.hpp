#pragma once
// Where velloq-host finds the plug-in when --module does not say.

#include <string>

// The module beside the program (the build's bin/ folder, an unpacked
// Windows archive); failing that, an installation's: <prefix>/bin/velloq-host
// loads <prefix>/lib/velloq/Velloq.so. The path beside the program when
// neither is there, for the message that says so.
std::string default_module_path();
