// The data and spreading sequences are maximal-length for every degree the records allow.
#include "waveform/prbs.hpp"

#include <gtest/gtest.h>

namespace zr::wave {
namespace {

TEST(Prbs, EveryDegreeRepeatsOnlyAfter2ToTheNMinus1Bits) {
  for (unsigned degree = kMinPrbsDegree; degree <= kMaxPrbsDegree; ++degree) {
    SCOPED_TRACE(degree);
    Prbs sequence(degree, 1);
    const std::uint64_t period = (std::uint64_t{1} << degree) - 1;
    // The register state after each bit: back to the start exactly at the period. Tracked as
    // the last `degree` bits, which for an m-sequence determine the state.
    std::uint32_t window = 0, first = 0;
    const std::uint32_t mask = (1u << degree) - 1;
    std::uint64_t ones = 0;
    for (unsigned i = 0; i < degree; ++i) first = ((first << 1) | sequence.next_bit()) & mask;
    window = first;
    std::uint64_t steps = 0;
    for (; steps < period + 1; ++steps) {
      const unsigned bit = sequence.next_bit();
      ones += bit;
      window = ((window << 1) | bit) & mask;
      if (window == first) break;
    }
    EXPECT_EQ(steps + 1, period);
    EXPECT_EQ(ones, (period + 1) / 2);  // balance: 2^(n-1) ones per period
  }
}

TEST(Prbs, StartStateSelectsThePhaseAndZeroCountsAsOne) {
  Prbs a(15, 0), b(15, 1), c(15, 23);
  unsigned differ = 0;
  for (int i = 0; i < 64; ++i) {
    const unsigned bit_a = a.next_bit();
    EXPECT_EQ(bit_a, b.next_bit());
    differ += bit_a != c.next_bit();
  }
  EXPECT_GT(differ, 0u);
  Prbs wide(4, 0xfffffff3u);  // only the low 4 bits count
  Prbs narrow(4, 0x3u);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(wide.next_bit(), narrow.next_bit());
}

}  // namespace
}  // namespace zr::wave
