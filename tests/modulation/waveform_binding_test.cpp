// Binding to the waveform library: where it is looked for, how it is loaded, the generator
// object, and the permanent failures that stop every later modulation call.
#include "modulation/waveform_binding.hpp"

#include <gtest/gtest.h>

#include "tests/modulation/modulation_fixture.hpp"

namespace zr {
namespace {

using testing::BoundFixture;
using testing::DoubleLibrary;
using testing::ModulationFixture;
using testing::RecordingBus;
using testing::ScratchFolder;

const std::string kFullDouble = std::string(ZR_FULL_DOUBLE_DIR) + "/" + kWaveformLibraryName;

class WaveformBinding : public ModulationFixture {};

TEST_F(WaveformBinding, MissingFileIsNotRecordedSoALaterOpenSucceeds) {
  ScratchFolder folder;
  ScopedWaveformLibraryFolder scoped(folder.path());
  EXPECT_EQ(mod_open(device(), nullptr), ZR_MOD_NO_LIBRARY);
  EXPECT_EQ(bus().count(RecordingBus::Kind::Query), 0u);  // nothing asked of the instrument

  AmParams am{};
  EXPECT_EQ(mod_config_am(device(), &am, &am), ZR_OK);  // not blocked

  folder.copy_library_from(ZR_FULL_DOUBLE_DIR);
  DoubleLibrary library(folder.path() + "/" + kWaveformLibraryName);
  EXPECT_EQ(mod_open(device(), nullptr), ZR_OK);
  EXPECT_EQ(mod_close(device()), ZR_OK);
}

TEST_F(WaveformBinding, OpenPassesTheIdentityAndTheVersionArgument) {
  ScopedWaveformLibraryFolder scoped(ZR_FULL_DOUBLE_DIR);
  DoubleLibrary library(kFullDouble);
  int version_slot = 0;
  ASSERT_EQ(mod_open(device(), &version_slot), ZR_OK);

  ASSERT_EQ(bus().queried().size(), 1u);
  EXPECT_EQ(bus().queried()[0][0], 0x89);
  EXPECT_EQ(library.control().version_calls, 1);
  EXPECT_EQ(library.control().version_argument, &version_slot);
  const std::uint32_t expected[4] = {testing::kModel, testing::kUidHigh,
                                     static_cast<std::uint32_t>(testing::kUidLow),
                                     static_cast<std::uint32_t>(testing::kUidLow >> 32)};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(library.control().create_arguments[i], expected[i]) << i;

  EXPECT_EQ(mod_close(device()), ZR_OK);
  EXPECT_EQ(library.control().released_generator, 7);  // the handle create returned
}

TEST_F(WaveformBinding, FailedIdentityQueryReturnsTransportFailure) {
  ScopedWaveformLibraryFolder scoped(ZR_FULL_DOUBLE_DIR);
  DoubleLibrary library(kFullDouble);
  bus().query_handler = [](std::span<const std::uint8_t>) {
    return testing::BusReply{ZR_TRANSPORT_FAILED, {}, -1};
  };
  EXPECT_EQ(mod_open(device(), nullptr), ZR_TRANSPORT_FAILED);
  EXPECT_EQ(library.control().version_calls, 0);
}

// Every modulation call returns the permanent failure at once; init still fills the record.
void expect_blocked(DeviceContext** device, std::int32_t failure) {
  AmParams am{};
  mod_init_am(device, &am);
  EXPECT_EQ(am.mod_frequency, 1000.0);
  EXPECT_EQ(am.depth, 50.0);
  EXPECT_EQ(am.am_option, 1);

  AmParams out{-1.0, -1.0, 99};
  EXPECT_EQ(mod_config_am(device, &am, &out), failure);
  EXPECT_EQ(out.mod_frequency, -1.0);  // not written
  double rate = -1.0;
  EXPECT_EQ(mod_generate_stream(device, 0, nullptr, nullptr, &rate), failure);
  EXPECT_EQ(rate, -1.0);
  EXPECT_EQ(mod_close(device), failure);
  EXPECT_EQ(mod_open(device, nullptr), failure);
}

TEST_F(WaveformBinding, UnloadableFileFailsForGood) {
  ScratchFolder folder;
  folder.write_library("not a shared object");
  ScopedWaveformLibraryFolder scoped(folder.path());
  EXPECT_EQ(mod_open(device(), nullptr), ZR_MOD_NO_LIBRARY);
  expect_blocked(device(), ZR_MOD_NO_LIBRARY);
}

TEST_F(WaveformBinding, CreationFailuresAreRecordedForGood) {
  const struct {
    std::int32_t create_result;
    std::int32_t status;
  } cases[] = {{-1, ZR_MOD_CREATE_FAILED}, {-2, ZR_MOD_CREATE_REFUSED}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.create_result);
    testing::RecordingContext fresh;
    fresh.bus->query_handler = bus().query_handler;
    DeviceContext* handle = &fresh.context;
    ScopedWaveformLibraryFolder scoped(ZR_FULL_DOUBLE_DIR);
    DoubleLibrary library(kFullDouble);
    library.control().create_result = c.create_result;
    EXPECT_EQ(mod_open(&handle, nullptr), c.status);
    library.control().create_result = 7;
    expect_blocked(&handle, c.status);
    EXPECT_EQ(library.control().released_generator, 0);  // mod_close did not reach the library
  }
}

TEST_F(WaveformBinding, FailedReleaseKeepsTheLibraryAndDoesNotBlock) {
  ScopedWaveformLibraryFolder scoped(ZR_FULL_DOUBLE_DIR);
  DoubleLibrary library(kFullDouble);
  ASSERT_EQ(mod_open(device(), nullptr), ZR_OK);
  library.control().release_result = -1;
  EXPECT_EQ(mod_close(device()), ZR_MOD_RELEASE_FAILED);

  // Still bound: a generation reaches the library, and its result is returned.
  AwgnParams noise{};
  mod_init_awgn(device(), &noise);
  ASSERT_EQ(mod_config_awgn(device(), &noise, &noise), ZR_OK);
  EXPECT_EQ(mod_generate_stream(device(), 0, nullptr, nullptr, nullptr), ZR_OK);
  EXPECT_EQ(library.control().calls.size(), 1u);

  library.control().release_result = 0;
  EXPECT_EQ(mod_close(device()), ZR_OK);
}

TEST_F(WaveformBinding, GenerationNeedsABoundLibraryAndItsEntryPoint) {
  AwgnParams noise{};
  mod_init_awgn(device(), &noise);
  ASSERT_EQ(mod_config_awgn(device(), &noise, &noise), ZR_OK);
  double rate = -1.0;
  EXPECT_EQ(mod_generate_stream(device(), 0, nullptr, nullptr, &rate), ZR_MOD_NO_LIBRARY);
  EXPECT_EQ(rate, -1.0);
  EXPECT_EQ(mod_close(device()), ZR_MOD_NO_LIBRARY);

  {
    ScopedWaveformLibraryFolder scoped(ZR_PARTIAL_DOUBLE_DIR);
    ASSERT_EQ(mod_open(device(), nullptr), ZR_OK);
    EXPECT_EQ(mod_generate_stream(device(), 0, nullptr, nullptr, &rate), ZR_MOD_NO_LIBRARY);
    EXPECT_EQ(rate, -1.0);
    // Not recorded: a config call and another open still work.
    EXPECT_EQ(mod_config_awgn(device(), &noise, &noise), ZR_OK);
    EXPECT_EQ(mod_close(device()), ZR_OK);
  }

  ScopedWaveformLibraryFolder scoped(ZR_FULL_DOUBLE_DIR);
  DoubleLibrary library(kFullDouble);
  ASSERT_EQ(mod_open(device(), nullptr), ZR_OK);
  ASSERT_EQ(mod_close(device()), ZR_OK);
  EXPECT_EQ(mod_generate_stream(device(), 0, nullptr, nullptr, &rate), ZR_MOD_NO_LIBRARY);
  EXPECT_TRUE(library.control().calls.empty());
}

// Without an injected folder the file must sit beside the module holding the binding (here the
// test program), and the plain name is found through that module's $ORIGIN run path.
TEST_F(WaveformBinding, PlainNameIsFoundThroughTheRunPath) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer intercepts dlopen, so the loader sees its run path, not ours";
#endif
  DoubleLibrary library(kWaveformLibraryName);
  ASSERT_TRUE(library.loaded());
  ASSERT_EQ(mod_open(device(), nullptr), ZR_OK);
  AwgnParams noise{};
  mod_init_awgn(device(), &noise);
  ASSERT_EQ(mod_config_awgn(device(), &noise, &noise), ZR_OK);
  EXPECT_EQ(mod_generate_stream(device(), 0, nullptr, nullptr, nullptr), ZR_OK);
  EXPECT_EQ(library.control().calls.size(), 1u);
  EXPECT_EQ(mod_close(device()), ZR_OK);
}

TEST(WaveformBindingHandles, NullDeviceHandleIsRefused) {
  EXPECT_EQ(mod_open(nullptr, nullptr), ZR_INVALID_HANDLE);
  EXPECT_EQ(mod_close(nullptr), ZR_INVALID_HANDLE);
  DeviceContext* none = nullptr;
  EXPECT_EQ(mod_generate_stream(&none, 0, nullptr, nullptr, nullptr), ZR_INVALID_HANDLE);
  AmParams am{};
  mod_init_am(nullptr, &am);  // the defaults still arrive
  EXPECT_EQ(am.depth, 50.0);
  EXPECT_EQ(mod_config_am(nullptr, &am, &am), ZR_INVALID_HANDLE);
}

}  // namespace
}  // namespace zr
