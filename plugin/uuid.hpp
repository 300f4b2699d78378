#pragma once
// Operations of the Uuid type: the textual parser and the equality test.

#include "host/types.hpp"

// Reads the 36-character form 8-4-4-4-12. Word 1 is the first group, word 2
// the second and third, word 3 the fourth and the first four digits of the
// fifth, word 4 the last eight. A character that is not a hexadecimal digit
// counts as 0 and the separators are not examined: there is no failure.
// The text must hold at least 36 characters.
Uuid parse_uuid(const char* text);

// True when all four words agree.
bool uuid_equal(const Uuid& a, const Uuid& b);
