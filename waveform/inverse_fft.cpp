#include "waveform/inverse_fft.hpp"

#include <fftw3.h>

#include <mutex>
#include <vector>

namespace zr::wave {
namespace {

std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

fftwf_complex* as_fftw(Iq* data) { return reinterpret_cast<fftwf_complex*>(data); }

// FFTW_ESTIMATE leaves the arrays untouched while planning; FFTW_UNALIGNED lets the plan run on
// any other arrays of the size.
fftwf_plan make_plan(std::size_t size, bool in_place) {
  std::vector<Iq> a(size), b(in_place ? 0 : size);
  Iq* out = in_place ? a.data() : b.data();
  std::lock_guard lock(planner_mutex());
  return fftwf_plan_dft_1d(static_cast<int>(size), as_fftw(a.data()), as_fftw(out),
                           FFTW_BACKWARD, FFTW_ESTIMATE | FFTW_UNALIGNED);
}

}  // namespace

InverseFft::InverseFft(std::size_t size) : size_(size) {}

InverseFft::~InverseFft() {
  std::lock_guard lock(planner_mutex());
  if (plan_ != nullptr) fftwf_destroy_plan(static_cast<fftwf_plan>(plan_));
  if (plan_in_place_ != nullptr) fftwf_destroy_plan(static_cast<fftwf_plan>(plan_in_place_));
}

void InverseFft::run(std::span<Iq> spectrum, std::span<Iq> time) {
  const bool in_place = spectrum.data() == time.data();
  void*& plan = in_place ? plan_in_place_ : plan_;
  if (plan == nullptr) plan = make_plan(size_, in_place);
  fftwf_execute_dft(static_cast<fftwf_plan>(plan), as_fftw(spectrum.data()), as_fftw(time.data()));
}

}  // namespace zr::wave
