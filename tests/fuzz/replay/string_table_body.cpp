// The body of fuzz_string_table, compiled into this test: a test folder builds from
// its own sources only, and the bodies live beside the fuzzers.

#include "tests/fuzz/targets/string_table_target.cpp"
