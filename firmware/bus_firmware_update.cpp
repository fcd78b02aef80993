// The bus controller firmware update: the bus's own download on a worker thread, a progress
// line that advances with time on this one.
#include <chrono>
#include <cstdint>
#include <future>
#include <limits>
#include <optional>
#include <ostream>
#include <vector>

#include "firmware/firmware_text.hpp"
#include "firmware/firmware_update.hpp"
#include "firmware/image_file.hpp"
#include "firmware/progress_text.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"

namespace zr {
namespace {

constexpr int kProgressSteps = 1000;
constexpr std::chrono::milliseconds kProgressStep{40};
// Bus controller images are a few hundred KiB; the bound also keeps the length within the
// 32 bits the bus takes.
constexpr std::size_t kMaxBusImageSize = 16u * 1024u * 1024u;
static_assert(kMaxBusImageSize <= std::numeric_limits<std::uint32_t>::max());

void show_progress(std::ostream& out) {
  for (int k = 1; k <= kProgressSteps; ++k) {
    const SteadyTime until = steady_now() + kProgressStep;
    sleep_for(until - steady_now());
    out << kBusProgressPrefix << default_format(static_cast<double>(k) / kProgressSteps * 100)
        << kBusProgressSuffix << std::flush;
  }
  out << kLineEnd << std::flush;
}

}  // namespace

std::int32_t update_bus_firmware(DeviceContext& context, const char* path) {
  if (!context.bus) return ZR_NO_BUS;
  abus& bus = *context.bus;

  // Read here rather than on the worker, so that an unreadable file is reported before any
  // transfer or progress starts.
  const std::optional<std::vector<std::uint8_t>> image =
      read_image_tail(path, 0, kMaxBusImageSize);
  if (!image) return ZR_FW_IMAGE_UNREADABLE;

  // The worker has the bus to itself until it completes; this thread only sleeps and prints.
  // The future's destructor waits for the worker, so it never outlives the image or the bus.
  std::future<std::int32_t> transfer = std::async(std::launch::async, [&bus, &image] {
    return bus.write_bus_firmware(image->data(), static_cast<std::uint32_t>(image->size()));
  });
  show_progress(console());
  return transfer.get();
}

}  // namespace zr
