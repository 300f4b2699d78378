#pragma once
// What velloq-validate prints: a line per check and a summary, or the same
// as one JSON document for CI.

#include <ostream>
#include <string>

#include "validator/validation.hpp"

void print_text(std::ostream& out, const validation_options& options, const validation& done);
void print_json(std::ostream& out, const validation_options& options, const validation& done);
// --list: every check's name and what it holds the plug-in to.
void print_check_list(std::ostream& out);
