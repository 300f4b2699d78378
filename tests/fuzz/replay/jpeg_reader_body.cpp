// The bodies of fuzz_jpeg_reader and fuzz_jpeg_reader_stb, compiled into
// this test: a test folder builds from its own sources only, and the bodies
// live beside the fuzzers.

#include "tests/fuzz/targets/jpeg_reader_target.cpp"
