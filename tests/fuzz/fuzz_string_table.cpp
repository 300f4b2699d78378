// libFuzzer entry point; the target itself is fuzz_string_table.

#include "tests/fuzz/fuzz_targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz_string_table(data, size);
}
