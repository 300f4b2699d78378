// libFuzzer entry point; the target itself is fuzz_png_reader.

#include "tests/fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_png_reader(data, size);
}
