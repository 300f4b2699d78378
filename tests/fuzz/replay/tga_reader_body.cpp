// The body of fuzz_tga_reader, compiled into this test: a test folder builds from
// its own sources only, and the bodies live beside the fuzzers.

#include "tests/fuzz/targets/tga_reader_target.cpp"
