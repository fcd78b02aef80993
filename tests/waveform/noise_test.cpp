// Noise: confined to its band, flat within it, Gaussian in amplitude.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/waveform/waveform_probe.hpp"

namespace zr::testing {
namespace {

TEST(NoiseSynthesis, FlatWithinTheBandAndGaussian) {
  Generator gen;
  const double rate = 5e7, bandwidth = 4e7;
  Record r;
  r.f64(bandwidth).f64(0.01);
  const Generated g = gen.run(GenerateAWGNWaveform, r, rate);
  ASSERT_EQ(g.status, GSW_OK);
  const std::size_t n = g.size();
  ASSERT_EQ(n, 500000u);

  const std::vector<Complex> x = spectrum(g.iq);
  // Power in blocks of 5000 bins (0.5 MHz); blocks wholly inside the band must agree within
  // 10 %, blocks wholly outside hold only rounding noise.
  const std::size_t block = 5000;
  std::vector<double> inside;
  double outside = 0;
  for (std::int64_t start = -static_cast<std::int64_t>(n / 2); start + static_cast<std::int64_t>(block) <= static_cast<std::int64_t>(n / 2);
       start += block) {
    double p = 0;
    for (std::size_t i = 0; i < block; ++i) p += std::norm(x[bin(start + static_cast<std::int64_t>(i), n)]);
    const double low = start * rate / n, high = (start + static_cast<double>(block)) * rate / n;
    if (low >= -bandwidth / 2 && high <= bandwidth / 2) inside.push_back(p);
    // The band includes its edges at exactly +-bandwidth / 2.
    if (high <= -bandwidth / 2 || low > bandwidth / 2) outside = std::max(outside, p);
  }
  ASSERT_GT(inside.size(), 70u);
  double mean = 0;
  for (double p : inside) mean += p / inside.size();
  for (double p : inside) EXPECT_NEAR(p / mean, 1.0, 0.1);
  EXPECT_LT(outside / mean, 1e-5);

  // Each component: zero mean, kurtosis 3, 68.3 % within one standard deviation.
  for (int part = 0; part < 2; ++part) {
    SCOPED_TRACE(part);
    double m1 = 0, m2 = 0, m4 = 0;
    for (const Complex& s : g.iq) m1 += (part == 0 ? s.real() : s.imag()) / n;
    for (const Complex& s : g.iq) {
      const double v = (part == 0 ? s.real() : s.imag()) - m1;
      m2 += v * v / n;
      m4 += v * v * v * v / n;
    }
    const double sigma = std::sqrt(m2);
    EXPECT_NEAR(m1 / sigma, 0.0, 0.01);
    EXPECT_NEAR(m4 / (m2 * m2), 3.0, 0.05);
    std::size_t within = 0;
    for (const Complex& s : g.iq) within += std::abs((part == 0 ? s.real() : s.imag()) - m1) < sigma;
    EXPECT_NEAR(static_cast<double>(within) / n, 0.6827, 0.005);
  }
}

}  // namespace
}  // namespace zr::testing
