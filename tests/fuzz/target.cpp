// One libFuzzer entry point; TOL_FUZZ_DRIVER names the driver it runs.
#include <cstddef>
#include <cstdint>

#include "harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tol::fuzz::TOL_FUZZ_DRIVER(std::span<const std::uint8_t>(data, size));
  return 0;
}
