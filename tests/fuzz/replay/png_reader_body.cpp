// The body of fuzz_png_reader, compiled into this test: a test folder builds from
// its own sources only, and the bodies live beside the fuzzers.

#include "tests/fuzz/targets/png_reader_target.cpp"
