#pragma once
// Inverse discrete Fourier transforms through FFTW. FFTW's planner is not thread-safe, so plans
// are made and destroyed under one lock; executing them needs none.
#include <cstddef>
#include <span>

#include "waveform/waveform.hpp"

namespace zr::wave {

// x[n] = sum_k X[k] exp(+j 2 pi k n / N), unnormalised, of one fixed size.
class InverseFft {
 public:
  explicit InverseFft(std::size_t size);
  ~InverseFft();
  InverseFft(const InverseFft&) = delete;
  InverseFft& operator=(const InverseFft&) = delete;

  // spectrum and time each hold size values; they may be the same span.
  void run(std::span<Iq> spectrum, std::span<Iq> time);

 private:
  std::size_t size_;
  void* plan_ = nullptr;
  bool in_place_ = false;
  void* plan_in_place_ = nullptr;
};

}  // namespace zr::wave
