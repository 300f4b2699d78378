#pragma once
// Text that came from outside (arguments, file names, a plug-in's title)
// made safe to show on a terminal.

#include <string>

// The text with every control character (C0, DEL and the C1 range) and
// every byte that is not part of valid UTF-8 written as \xNN, and tab,
// newline and carriage return as \t, \n and \r, so that a file name cannot
// move the cursor, recolour the screen or hide what it says. Printable
// UTF-8, other languages' letters included, is kept as it is.
std::string printable(const std::string& text);
