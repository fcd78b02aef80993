// What every caller of the library relies on: generator objects, the length query, the
// too-small buffer that is reported and left untouched, refused parameters, full-scale output.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/waveform/waveform_probe.hpp"

namespace zr::testing {
namespace {

Record digital_record(std::uint32_t code, double symbol_rate, double deviation,
                      std::uint32_t filter_type = 3, std::uint32_t oversampling = 4) {
  Record r;
  r.u32(code).f64(symbol_rate).f64(deviation).u32(15).u32(23).u32(filter_type).u32(16)
      .u32(oversampling).f64(0.35);
  return r;
}
Record am_record(double f, double depth, std::uint32_t option) {
  Record r;
  r.f64(f).f64(depth).u32(option);
  return r;
}
Record fm_record(double f, double deviation, std::uint32_t option) {
  Record r;
  r.f64(f).f64(deviation).u32(option);
  return r;
}
Record dsss_record() {
  Record r;
  r.f64(1e6).u32(1).u32(5).u32(8).u32(4).f64(0.35).u32(23).u32(3);
  return r;
}
Record pulse_record(double width, double period) {
  Record r;
  r.f64(width).f64(period);
  return r;
}
Record multitone_record(double phase, std::uint32_t tones, double spacing) {
  Record r;
  r.f64(phase).u32(tones).f64(spacing);
  return r;
}
Record step_record(double start, double stop, std::uint32_t points, double dwell) {
  Record r;
  r.f64(start).f64(stop).u32(points).f64(dwell);
  return r;
}
Record ramp_record(double span, double sub_time, double sweep_time) {
  Record r;
  r.f64(span).f64(sub_time).f64(sweep_time);
  return r;
}
Record ofdm_record(std::uint32_t size, std::uint32_t edge_low, std::uint32_t edge_high,
                   std::uint32_t option = 3) {
  Record r;
  r.f64(0).u32(size).u32(16).u32(edge_low).u32(edge_high).u32(25).u32(50).u8(1).u32(option)
      .u8(1);
  return r;
}
Record awgn_record(double bandwidth, double duration) {
  Record r;
  r.f64(bandwidth).f64(duration);
  return r;
}

TEST(WaveformLibrary, VersionAndGeneratorObjects) {
  std::uint32_t version = 0;
  EXPECT_EQ(GetALGVersion(&version), GSW_OK);
  EXPECT_EQ(version, GSW_VERSION);
  EXPECT_EQ(GetALGVersion(nullptr), GSW_OK);

  const std::int32_t a = GenSignalObjCreatSelfEncode(132, 1, 2, 3);
  const std::int32_t b = GenSignalObjCreatSelfEncode(132, 1, 2, 3);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  EXPECT_NE(a, b);
  EXPECT_EQ(GenSignalObjRelease(a), GSW_OK);
  EXPECT_EQ(GenSignalObjRelease(a), GSW_INVALID);  // already released

  // A released handle no longer generates, even when its slot is reused.
  const std::int32_t c = GenSignalObjCreatSelfEncode(0, 0, 0, 0);
  EXPECT_NE(c, a);
  std::uint64_t count = 0;
  const Record am = am_record(1e4, 50, 1);
  EXPECT_EQ(GenerateAmWaveform(a, am.data(), 4e6, nullptr, &count), GSW_INVALID);
  EXPECT_EQ(GenerateAmWaveform(c, am.data(), 4e6, nullptr, &count), GSW_OK);
  EXPECT_EQ(count, 400u);
  EXPECT_EQ(GenSignalObjRelease(b), GSW_OK);
  EXPECT_EQ(GenSignalObjRelease(c), GSW_OK);
}

TEST(WaveformLibrary, GeneratorSlotsRunOut) {
  std::vector<std::int32_t> handles;
  for (int i = 0; i < GSW_MAX_GENERATORS; ++i) {
    const std::int32_t h = GenSignalObjCreatSelfEncode(1, 2, 3, 4);
    if (h <= 0) break;
    handles.push_back(h);
  }
  EXPECT_EQ(GenSignalObjCreatSelfEncode(1, 2, 3, 4), GSW_INVALID);
  for (std::int32_t h : handles) GenSignalObjRelease(h);
  const std::int32_t again = GenSignalObjCreatSelfEncode(1, 2, 3, 4);
  EXPECT_GT(again, 0);
  GenSignalObjRelease(again);
}

TEST(WaveformLibrary, TooSmallBufferIsReportedWithoutWritingIt) {
  Generator gen;
  const Record am = am_record(1e4, 50, 1);
  std::vector<std::int16_t> buffer(2 * 400 + 2, 0x5a5a);
  std::uint64_t count = 399;
  EXPECT_EQ(GenerateAmWaveform(gen.handle(), am.data(), 4e6, buffer.data(), &count),
            GSW_TOO_SMALL);
  EXPECT_EQ(count, 400u);
  for (std::int16_t v : buffer) ASSERT_EQ(v, 0x5a5a);

  count = 401;  // more room than needed: only the waveform is written
  EXPECT_EQ(GenerateAmWaveform(gen.handle(), am.data(), 4e6, buffer.data(), &count), GSW_OK);
  EXPECT_EQ(count, 400u);
  EXPECT_EQ(buffer[800], 0x5a5a);
  EXPECT_EQ(buffer[801], 0x5a5a);

  EXPECT_EQ(GenerateAmWaveform(gen.handle(), am.data(), 4e6, buffer.data(), nullptr),
            GSW_INVALID);
  EXPECT_EQ(GenerateAmWaveform(gen.handle(), nullptr, 4e6, buffer.data(), &count), GSW_INVALID);
}

TEST(WaveformLibrary, RefusesWhatItCannotSynthesise) {
  Generator gen;
  const double nan = std::nan("");
  struct Case {
    std::string name;
    std::function<std::int32_t(std::int32_t, std::uint64_t*)> call;
  };
  const auto plain = [](Entry entry, Record record, double rate) {
    return [=](std::int32_t h, std::uint64_t* n) { return entry(h, record.data(), rate, nullptr, n); };
  };
  const auto counted = [](CountedEntry entry, Record record, double rate, std::int32_t symbols) {
    return [=](std::int32_t h, std::uint64_t* n) {
      return entry(h, record.data(), rate, symbols, nullptr, n);
    };
  };
  const Case cases[] = {
      {"rate not a number", plain(GenerateAmWaveform, am_record(1e4, 50, 1), nan)},
      {"rate zero", plain(GenerateAmWaveform, am_record(1e4, 50, 1), 0.0)},
      {"unknown AM shape", plain(GenerateAmWaveform, am_record(1e4, 50, 0), 4e6)},
      {"AM depth above 100", plain(GenerateAmWaveform, am_record(1e4, 150, 1), 4e6)},
      {"FM deviation at Nyquist", plain(GenerateFmWaveform, fm_record(1e4, 2e6, 1), 4e6)},
      {"unknown digital code", counted(GenerateDigitalModWaveform, digital_record(23, 1e6, 0), 4e6, 100)},
      {"fractional samples per symbol", counted(GenerateDigitalModWaveform, digital_record(3, 1e6, 0), 4.5e6, 100)},
      {"no symbols", counted(GenerateDigitalModWaveform, digital_record(3, 1e6, 0), 4e6, 0)},
      {"unknown filter", counted(GenerateDigitalModWaveform, digital_record(3, 1e6, 0, 9), 4e6, 100)},
      {"chips not whole samples", counted(GenerateDssWaveform, dsss_record(), 1.25e8, 5)},
      {"period too short", plain(GeneratePulseWaveform, pulse_record(0, 1e-12), 1e8)},
      {"tones beyond Nyquist", plain(GenerateMultitoneWaveform, multitone_record(0, 9, 1e6), 4e6)},
      {"sweep beyond Nyquist", plain(GenerateStepSweepWaveform, step_record(0, 5e6, 3, 1e-5), 4e6)},
      {"ramp wider than the rate", plain(GenerateRampSweepWaveform, ramp_record(5e6, 1e-4, 1e-3), 4e6)},
      {"no data subcarrier", plain(GenerateOFDMWaveform, ofdm_record(64, 32, 32), 2e7)},
      {"OFDM with FSK subcarriers", plain(GenerateOFDMWaveform, ofdm_record(64, 6, 5, 16), 2e7)},
      {"noise wider than the rate", plain(GenerateAWGNWaveform, awgn_record(6e7, 1e-3), 5e7)},
      {"waveform too long", plain(GenerateAWGNWaveform, awgn_record(4e7, 10.0), 5e7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint64_t count = 12345;
    EXPECT_EQ(c.call(gen.handle(), &count), GSW_INVALID);
    EXPECT_EQ(count, 12345u);
  }
}

// Every kind reaches full scale exactly and never clips (no -32768).
TEST(WaveformLibrary, EveryKindIsScaledToFullRangeWithoutClipping) {
  Generator gen;
  struct Case {
    std::string name;
    std::function<Generated()> run;
    std::size_t length;
  };
  const Case cases[] = {
      {"64-QAM", [&] { return gen.run(GenerateDigitalModWaveform, digital_record(11, 1e6, 0), 4e6, 4096); }, 16384},
      {"4-FSK", [&] { return gen.run(GenerateDigitalModWaveform, digital_record(16, 1e5, 5e4), 6e5, 100); }, 600},
      {"AM", [&] { return gen.run(GenerateAmWaveform, am_record(1000, 50, 1), 1.25e8); }, 125000},
      {"FM", [&] { return gen.run(GenerateFmWaveform, fm_record(1000, 1000, 1), 1.25e8); }, 125000},
      {"DSSS", [&] { return gen.run(GenerateDssWaveform, dsss_record(), 1.24e8, 5); }, 620},
      {"pulse", [&] { return gen.run(GeneratePulseWaveform, pulse_record(0.001, 0.002), 1.25e6); }, 2500},
      {"multitone", [&] { return gen.run(GenerateMultitoneWaveform, multitone_record(0, 3, 1e6), 1.6e7); }, 16},
      {"step sweep", [&] { return gen.run(GenerateStepSweepWaveform, step_record(1e9 - 5e6, 1e9 + 5e6, 21, 1e-5), 8e7); }, 16800},
      {"ramp sweep", [&] { return gen.run(GenerateRampSweepWaveform, ramp_record(2e7, 1e-4, 1e-4), 1.25e8); }, 12500},
      {"OFDM", [&] { return gen.run(GenerateOFDMWaveform, ofdm_record(64, 6, 5), 2e7); }, 16 * 80},
      {"noise", [&] { return gen.run(GenerateAWGNWaveform, awgn_record(4e7, 1e-3), 5e7); }, 50000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Generated g = c.run();
    ASSERT_EQ(g.status, GSW_OK);
    EXPECT_EQ(g.size(), c.length);
    EXPECT_EQ(peak_component(g), 32767);
    for (std::int16_t v : g.raw) ASSERT_NE(v, -32768);
  }
}

}  // namespace
}  // namespace zr::testing
