#include "hive/format.h"

std::uint32_t tol_hive_checksum(tol::ByteView base_block) {
  std::uint32_t sum = 0;
  for (std::uint32_t off = 0; off < TOL_BASE_CHECKSUM; off += 4) sum ^= base_block.u32(off);
  if (sum == 0xFFFFFFFFu) return 0xFFFFFFFEu;
  if (sum == 0) return 1;
  return sum;
}
