#pragma once
// Calls into libgenSignalWave.so and independent measurements of what it wrote: spectra by FFTW,
// instantaneous frequency from phase differences, a root-raised-cosine matched filter written
// from its textbook formula.
#include <fftw3.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

#include "platform/le_codec.hpp"
#include "waveform/gen_signal_wave.h"

namespace zr::testing {

using Complex = std::complex<double>;

// Packs a parameter record field by field, little-endian.
class Record {
 public:
  Record& f64(double v) {
    LeWriter(bytes_).u64(std::bit_cast<std::uint64_t>(v));
    return *this;
  }
  Record& u32(std::uint32_t v) {
    LeWriter(bytes_).u32(v);
    return *this;
  }
  Record& u8(std::uint8_t v) {
    LeWriter(bytes_).u8(v);
    return *this;
  }
  const void* data() const { return bytes_.data(); }

 private:
  std::vector<std::uint8_t> bytes_;
};

using Entry = std::int32_t (*)(std::int32_t, const void*, double, void*, void*);
using CountedEntry = std::int32_t (*)(std::int32_t, const void*, double, std::int32_t, void*,
                                      void*);

struct Generated {
  std::int32_t status = GSW_INVALID;
  std::vector<std::int16_t> raw;  // I, Q interleaved
  std::vector<Complex> iq;        // the same, in units of full scale

  std::size_t size() const { return iq.size(); }
};

// Owns a generator object for the test's lifetime.
class Generator {
 public:
  Generator() : handle_(GenSignalObjCreatSelfEncode(132, 1, 2, 3)) { EXPECT_GT(handle_, 0); }
  ~Generator() { GenSignalObjRelease(handle_); }
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;
  std::int32_t handle() const { return handle_; }

  // Asks for the length, then generates into a buffer of exactly that size.
  template <typename Call>
  Generated run(Call&& call) const {
    Generated g;
    std::uint64_t count = 0;
    g.status = call(handle_, nullptr, &count);
    if (g.status != GSW_OK) return g;
    g.raw.assign(2 * count, 0);
    g.status = call(handle_, g.raw.data(), &count);
    if (g.status != GSW_OK) return g;
    g.iq.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      g.iq[i] = Complex(g.raw[2 * i], g.raw[2 * i + 1]) / 32767.0;
    }
    return g;
  }
  Generated run(Entry entry, const Record& record, double rate) const {
    return run([&](std::int32_t h, void* samples, std::uint64_t* count) {
      return entry(h, record.data(), rate, samples, count);
    });
  }
  Generated run(CountedEntry entry, const Record& record, double rate, std::int32_t symbols) const {
    return run([&](std::int32_t h, void* samples, std::uint64_t* count) {
      return entry(h, record.data(), rate, symbols, samples, count);
    });
  }

 private:
  std::int32_t handle_;
};

// Forward DFT, X[k] = sum x[n] exp(-j 2 pi k n / N).
inline std::vector<Complex> spectrum(const std::vector<Complex>& x) {
  std::vector<Complex> in(x), out(x.size());
  fftw_plan plan = fftw_plan_dft_1d(static_cast<int>(x.size()),
                                    reinterpret_cast<fftw_complex*>(in.data()),
                                    reinterpret_cast<fftw_complex*>(out.data()), FFTW_FORWARD,
                                    FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  return out;
}

// Bin of a signed frequency index in an N-point transform.
inline std::size_t bin(std::int64_t k, std::size_t n) {
  const auto size = static_cast<std::int64_t>(n);
  return static_cast<std::size_t>(((k % size) + size) % size);
}

// Frequency in Hz between sample n and n + 1.
inline std::vector<double> instantaneous_frequency(const std::vector<Complex>& x, double rate) {
  std::vector<double> f(x.size() - 1);
  for (std::size_t n = 0; n + 1 < x.size(); ++n) {
    f[n] = std::arg(x[n + 1] * std::conj(x[n])) * rate / (2.0 * std::numbers::pi);
  }
  return f;
}

// Root-raised-cosine taps, t in symbols, sampled k times a symbol over `span` symbols.
inline std::vector<double> rrc_taps(unsigned k, unsigned span, double beta) {
  std::vector<double> h(span * k + 1);
  const double pi = std::numbers::pi;
  for (std::size_t i = 0; i < h.size(); ++i) {
    const double t = (static_cast<double>(i) - span * k / 2.0) / k;
    if (std::fabs(t) < 1e-12) {
      h[i] = 1.0 - beta + 4.0 * beta / pi;
    } else if (std::fabs(std::fabs(t) - 1.0 / (4.0 * beta)) < 1e-9) {
      h[i] = beta / std::sqrt(2.0) *
             ((1.0 + 2.0 / pi) * std::sin(pi / (4.0 * beta)) +
              (1.0 - 2.0 / pi) * std::cos(pi / (4.0 * beta)));
    } else {
      h[i] = (std::sin(pi * t * (1.0 - beta)) + 4.0 * beta * t * std::cos(pi * t * (1.0 + beta))) /
             (pi * t * (1.0 - std::pow(4.0 * beta * t, 2.0)));
    }
  }
  return h;
}

// Circular matched filtering (the waveform loops), sampled at the symbol peaks j * k.
inline std::vector<Complex> matched_symbols(const std::vector<Complex>& x, unsigned k,
                                            unsigned span, double beta) {
  const std::vector<double> h = rrc_taps(k, span, beta);
  const auto half = static_cast<std::int64_t>(h.size() / 2);
  const std::size_t n = x.size();
  std::vector<Complex> symbols(n / k);
  for (std::size_t j = 0; j < symbols.size(); ++j) {
    Complex sum = 0.0;
    for (std::int64_t i = -half; i <= half; ++i) {
      sum += h[static_cast<std::size_t>(i + half)] *
             x[bin(static_cast<std::int64_t>(j * k) + i, n)];
    }
    symbols[j] = sum;
  }
  return symbols;
}

inline double peak_component(const Generated& g) {
  int peak = 0;
  for (std::int16_t v : g.raw) peak = std::max(peak, std::abs(static_cast<int>(v)));
  return peak;
}

}  // namespace zr::testing
