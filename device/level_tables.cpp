#include "device/level_tables.hpp"

#include <algorithm>
#include <vector>

#include "device/command_frame.hpp"

namespace zr {
namespace {

constexpr std::uint8_t kKindTemperatures = 0;
constexpr std::uint8_t kKindUpperLevels = 1;
constexpr std::uint8_t kKindSegments = 2;
constexpr std::uint8_t kKindLowerLevels = 3;
constexpr std::size_t kSegmentStopOffset = 8;
constexpr std::size_t kSegmentReservedAOffset = 16;
constexpr std::size_t kSegmentStepOffset = 24;
constexpr std::size_t kSegmentReservedBOffset = 32;
constexpr std::size_t kTemperatureSize = 2;
constexpr std::size_t kLevelEntrySize = 2;

std::int64_t load_i64(const std::uint8_t* at) { return static_cast<std::int64_t>(load_u64(at)); }

FreqSegment decode_segment(const std::uint8_t* at) {
  FreqSegment segment;
  segment.start = load_i64(at);
  segment.stop = load_i64(at + kSegmentStopOffset);
  std::copy_n(at + kSegmentReservedAOffset, segment.reserved_a.size(), segment.reserved_a.begin());
  segment.step = load_i64(at + kSegmentStepOffset);
  std::copy_n(at + kSegmentReservedBOffset, segment.reserved_b.size(), segment.reserved_b.begin());
  return segment;
}

// Grid points of one segment, or 0 when it is malformed. The difference is taken unsigned: with
// stop >= start it is exact even when it would overflow a signed 64-bit value.
std::uint64_t segment_points(const FreqSegment& segment) {
  if (segment.step <= 0 || segment.stop < segment.start) return 0;
  const std::uint64_t span =
      static_cast<std::uint64_t>(segment.stop) - static_cast<std::uint64_t>(segment.start);
  return span / static_cast<std::uint64_t>(segment.step) + 1;
}

void clear_open_tables(DeviceContext& context) { context.open_tables = {}; }

// Reads the rows of one level table, one per temperature point.
std::int32_t read_level_rows(DeviceContext& context, std::uint8_t kind, std::size_t points,
                             LevelTable& table) {
  const std::size_t grid = context.open_tables.freq_grid.size();
  table.entries.resize(points * grid, 0);
  for (std::size_t f = 0; f < points; ++f) {
    std::vector<std::uint8_t> row;
    if (const std::int32_t status = context.read_table(kind, static_cast<std::uint16_t>(f), row);
        status != ZR_OK) {
      return status;
    }
    // A row longer than the grid would run into the next one; an odd byte is half an entry.
    if (row.size() > grid * kLevelEntrySize || row.size() % kLevelEntrySize != 0) {
      clear_open_tables(context);
      return ZR_TRANSPORT_FAILED;
    }
    table.row_start[f] = f * grid;
    for (std::size_t i = 0; i < row.size() / kLevelEntrySize; ++i) {
      table.entries[f * grid + i] = load_i16(row.data() + i * kLevelEntrySize);
    }
  }
  return ZR_OK;
}

}  // namespace

std::int32_t take_segment_table(DeviceContext& context, std::span<const std::uint8_t> bytes) {
  const std::size_t count = bytes.size() / kSegmentRecordSize;
  if (count > kMaxFreqSegments) return ZR_TRANSPORT_FAILED;

  std::array<FreqSegment, kMaxFreqSegments> segments{};
  std::uint64_t grid_points = 0;
  for (std::size_t s = 0; s < count; ++s) {
    segments[s] = decode_segment(bytes.data() + s * kSegmentRecordSize);
    const std::uint64_t points = segment_points(segments[s]);
    if (points == 0 || points > kMaxFreqGridPoints - grid_points) return ZR_TRANSPORT_FAILED;
    grid_points += points;
  }

  std::vector<double> grid;
  grid.reserve(static_cast<std::size_t>(grid_points));
  for (std::size_t s = 0; s < count; ++s) {
    const FreqSegment& segment = segments[s];
    const std::uint64_t points = segment_points(segment);
    for (std::uint64_t i = 0; i < points; ++i) {
      // start + i * step stays within [start, stop], so the sum cannot overflow.
      grid.push_back(static_cast<double>(segment.start + static_cast<std::int64_t>(i) * segment.step));
    }
  }
  context.strategy_table.segments = segments;
  context.strategy_table.segment_count = static_cast<std::uint8_t>(count);
  context.open_tables.freq_grid = std::move(grid);
  return ZR_OK;
}

std::int32_t read_level_tables(DeviceContext& context) {
  std::vector<std::uint8_t> segments;
  if (const std::int32_t status = context.read_table(kKindSegments, 0, segments);
      status != ZR_OK) {
    return status;
  }
  if (take_segment_table(context, segments) != ZR_OK) {
    clear_open_tables(context);
    return ZR_TRANSPORT_FAILED;
  }

  std::vector<std::uint8_t> temperatures;
  if (const std::int32_t status = context.read_table(kKindTemperatures, 0, temperatures);
      status != ZR_OK) {
    return status;
  }
  // An empty list holds no points; a list must carry every temperature it announces.
  const std::size_t points = temperatures.empty() ? 0 : temperatures[0];
  if (points > kMaxTemperaturePoints ||
      (!temperatures.empty() && temperatures.size() < 1 + points * kTemperatureSize)) {
    clear_open_tables(context);
    return ZR_TRANSPORT_FAILED;
  }
  context.open_tables.temperature_points = std::move(temperatures);

  if (const std::int32_t status =
          read_level_rows(context, kKindUpperLevels, points, context.open_tables.upper_levels);
      status != ZR_OK) {
    return status;
  }
  return read_level_rows(context, kKindLowerLevels, points, context.open_tables.lower_levels);
}

}  // namespace zr
