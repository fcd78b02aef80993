// Digital modulation, FSK, spread spectrum and OFDM, measured from the samples: constellation
// error after matched filtering, FSK tone levels, despreading, occupied subcarriers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/waveform/waveform_probe.hpp"

namespace zr::testing {
namespace {

Record digital_record(std::uint32_t code, double symbol_rate, double deviation,
                      std::uint32_t oversampling) {
  Record r;
  r.u32(code).f64(symbol_rate).f64(deviation).u32(15).u32(23).u32(3).u32(16).u32(oversampling)
      .f64(0.35);
  return r;
}

// Square constellation of `levels` per axis (levels 1: on the I axis only, as BPSK), scaled to
// the received symbols' mean power; returns the RMS error vector over RMS symbol.
double evm(const std::vector<Complex>& symbols, int levels_i, int levels_q) {
  std::vector<Complex> ideal;
  for (int i = 0; i < levels_i; ++i) {
    for (int q = 0; q < levels_q; ++q) {
      ideal.emplace_back(2 * i - (levels_i - 1), levels_q == 1 ? 0 : 2 * q - (levels_q - 1));
    }
  }
  double ideal_power = 0, received_power = 0;
  for (const Complex& p : ideal) ideal_power += std::norm(p) / ideal.size();
  for (const Complex& s : symbols) received_power += std::norm(s) / symbols.size();
  const double scale = std::sqrt(ideal_power / received_power);
  double error = 0;
  for (const Complex& s : symbols) {
    double best = 1e300;
    for (const Complex& p : ideal) best = std::min(best, std::norm(s * scale - p));
    error += best / symbols.size();
  }
  return std::sqrt(error / ideal_power);
}

TEST(DigitalSynthesis, ConstellationsAfterMatchedFiltering) {
  Generator gen;
  struct Case {
    std::uint32_t code;
    int levels_i, levels_q;
    unsigned oversampling;
  } cases[] = {{1, 2, 1, 4}, {3, 2, 2, 4}, {9, 4, 4, 8}, {11, 8, 8, 4}, {12, 16, 16, 4}, {13, 32, 32, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const double symbol_rate = 1e6;
    const Generated g = gen.run(GenerateDigitalModWaveform,
                                digital_record(c.code, symbol_rate, 0, c.oversampling),
                                symbol_rate * c.oversampling, 4096);
    ASSERT_EQ(g.status, GSW_OK);
    ASSERT_EQ(g.size(), 4096u * c.oversampling);
    const std::vector<Complex> symbols = matched_symbols(g.iq, c.oversampling, 16, 0.35);
    EXPECT_LT(evm(symbols, c.levels_i, c.levels_q), 0.012);
  }
}

TEST(DigitalSynthesis, FskKeysTheDeviationLevels) {
  Generator gen;
  const double symbol_rate = 1e5, deviation = 3e5, rate = 4e6;  // 40 samples a symbol
  for (std::uint32_t code : {15u, 16u}) {
    SCOPED_TRACE(code);
    const unsigned tones = code == 15 ? 2 : 4;
    const Generated g =
        gen.run(GenerateDigitalModWaveform, digital_record(code, symbol_rate, deviation, 4), rate, 500);
    ASSERT_EQ(g.status, GSW_OK);
    ASSERT_EQ(g.size(), 20000u);
    const std::vector<double> inst = instantaneous_frequency(g.iq, rate);
    std::map<int, int> seen;
    for (std::size_t symbol = 0; symbol < 499; ++symbol) {
      const double f = inst[symbol * 40 + 20];  // middle of the symbol
      const double level = (f / deviation * (tones - 1) + (tones - 1)) / 2.0;
      ASSERT_NEAR(level, std::round(level), 0.01) << symbol;
      seen[static_cast<int>(std::lround(level))]++;
    }
    EXPECT_EQ(seen.size(), tones);
    EXPECT_EQ(seen.begin()->first, 0);
    for (const Complex& s : g.iq) ASSERT_NEAR(std::abs(s), 1.0, 1e-3);  // continuous phase
  }
}

TEST(DsssSynthesis, ChipsFormAnMSequenceAndDespreadToTheSymbols) {
  Generator gen;
  const unsigned spc = 4, chips = 31;
  const std::int32_t symbols = 40;
  Record r;
  r.f64(1e6).u32(1).u32(5).u32(8).u32(spc).f64(0.35).u32(23).u32(3);
  const Generated g = gen.run(GenerateDssWaveform, r, spc * 1e6 * chips, symbols);
  ASSERT_EQ(g.status, GSW_OK);
  ASSERT_EQ(g.size(), static_cast<std::size_t>(symbols) * chips * spc);
  const std::vector<Complex> chip_values = matched_symbols(g.iq, spc, 8, 0.35);

  std::vector<int> code(chips);  // the first symbol's chip signs
  for (unsigned c = 0; c < chips; ++c) code[c] = chip_values[c].real() > 0 ? 1 : -1;
  // An m-sequence: periodic autocorrelation 31 at lag 0 and -1 at every other lag.
  for (unsigned lag = 0; lag < chips; ++lag) {
    int sum = 0;
    for (unsigned c = 0; c < chips; ++c) sum += code[c] * code[(c + lag) % chips];
    EXPECT_EQ(sum, lag == 0 ? 31 : -1) << lag;
  }
  // Despreading each symbol with the code gives +-31 chip amplitudes: full correlation, and
  // both signs occur (the data is carried).
  double amplitude = 0;
  for (unsigned c = 0; c < chips; ++c) amplitude += std::abs(chip_values[c].real()) / chips;
  int positive = 0;
  for (std::int32_t s = 0; s < symbols; ++s) {
    double despread = 0;
    for (unsigned c = 0; c < chips; ++c) despread += chip_values[s * chips + c].real() * code[c];
    EXPECT_NEAR(std::abs(despread) / (chips * amplitude), 1.0, 0.02) << s;
    positive += despread > 0;
  }
  EXPECT_GT(positive, 0);
  EXPECT_LT(positive, symbols);
}

TEST(OfdmSynthesis, OccupiedSubcarriersPilotsAndPrefix) {
  Generator gen;
  const std::uint32_t size = 64, symbols = 16, edge_low = 6, edge_high = 5;
  Record r;
  r.f64(0).u32(size).u32(symbols).u32(edge_low).u32(edge_high).u32(25).u32(50).u8(1).u32(3).u8(1);
  const Generated g = gen.run(GenerateOFDMWaveform, r, 2e7);
  ASSERT_EQ(g.status, GSW_OK);
  const std::size_t prefix = 16, stride = size + prefix;
  ASSERT_EQ(g.size(), symbols * stride);

  std::vector<std::vector<Complex>> carriers;  // per symbol, in frequency order
  for (std::uint32_t s = 0; s < symbols; ++s) {
    const std::vector<Complex> body(g.iq.begin() + s * stride + prefix,
                                    g.iq.begin() + (s + 1) * stride);
    const std::vector<Complex> x = spectrum(body);
    std::vector<Complex> ordered(size);
    for (std::size_t i = 0; i < size; ++i) ordered[i] = x[(i + size / 2) % size];
    carriers.push_back(ordered);
    // The prefix outside the taper repeats the end of the symbol.
    for (std::size_t t = 8; t < prefix; ++t) {
      ASSERT_NEAR(std::abs(g.iq[s * stride + t] - body[size - prefix + t]), 0.0, 2e-4);
    }
  }
  double reference = 0;
  for (const auto& symbol : carriers) reference = std::max(reference, std::abs(symbol[edge_low]));
  int used = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const bool expected_used = i >= edge_low && i < size - edge_high && i != size / 2;
    for (const auto& symbol : carriers) {
      if (expected_used) {
        ASSERT_GT(std::abs(symbol[i]) / reference, 0.3) << i;
      } else {
        ASSERT_LT(std::abs(symbol[i]) / reference, 1e-3) << i;
      }
    }
    used += expected_used;
  }
  EXPECT_EQ(used, 52);
  // Pilots: every 8th used subcarrier, the same value in every symbol; data subcarriers vary.
  const std::size_t pilot = edge_low, data = edge_low + 1;
  int data_changes = 0;
  for (std::uint32_t s = 1; s < symbols; ++s) {
    EXPECT_NEAR(std::abs(carriers[s][pilot] - carriers[0][pilot]) / reference, 0.0, 1e-3);
    data_changes += std::abs(carriers[s][data] - carriers[0][data]) / reference > 0.1;
  }
  EXPECT_GT(data_changes, 0);
}

}  // namespace
}  // namespace zr::testing
