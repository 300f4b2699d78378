// libFuzzer entry point; the target itself is fuzz_jpeg_reader_stb.

#include "tests/fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_jpeg_reader_stb(data, size);
}
