// The body of fuzz_text_burn_in, compiled into this test: a test folder builds from
// its own sources only, and the bodies live beside the fuzzers.

#include "tests/fuzz/targets/text_burn_in_target.cpp"
