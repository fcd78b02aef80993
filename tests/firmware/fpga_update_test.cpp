// The FPGA remote update against a recording bus that plays the remote-update service: the
// flash image reassembled from the packets, the packet layouts, the transcript and every
// failure with its status and message.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware_update.hpp"
#include "tests/firmware/firmware_test_support.hpp"

namespace zr {
namespace {

using testing::BusReply;
using testing::RecordingBus;
using Kind = RecordingBus::Kind;

constexpr std::size_t kFlash = 3932160;
constexpr std::size_t kOffset = 4194464;
constexpr std::size_t kPackets = 19961;

const std::string kReadyLine = "Ready to update FPGA firmware, please wait...\n";
const std::string kStartedText =
    "Application 1 Hardware upgrade in progress...\nErase Flash, please wait...\n";
const std::string kUnresponsive =
    "remote update server is unresponsive. Please restart the hardware and try again!...\n";
const std::string kEraseFailed =
    "failed to erase the flash. Please restart the hardware and try again!...\n";
const std::string kBusError = "Bus Error!. Please restart the hardware and try again!...\n";

std::string head_text(std::size_t image_length) {
  return kReadyLine + "Image Size to Update is: " + std::to_string(image_length) +
         " Bytes...\nImage Packets Count is: 19961 Packets...\nBegin RemoteUpdating...\n";
}

std::string field(std::size_t packets_sent) {
  char text[16];
  std::snprintf(text, sizeof text, "%6.2f%%",
                static_cast<double>(static_cast<float>(packets_sent * 100) / 19961.0f));
  return text;
}

// "Erase completed!" and the progress field after each of the first `packets` packets.
std::string progress_text(std::size_t packets) {
  std::string text = "Erase completed!\nFirmware Downloading...  0.00%";
  for (std::size_t i = 1; i <= packets; ++i) text += "\b\b\b\b\b\b\b" + field(i);
  return text;
}

struct ServicePlan {
  bool acknowledge_start = true;
  int start_reads_before_ack = 0;  // silent reads before the 0x01
  std::int32_t start_ack_status = ZR_OK;
  int erase_reads_before_done = 3;  // silent reads before the 0x55; -1: the erase never ends
  bool echo_commits = true;
};

class FpgaUpdateTest : public ::testing::Test, public testing::FirmwareFixture {
 protected:
  // Answers each one-byte read the way the service would after the last packet written.
  void serve(const ServicePlan& plan) {
    bus().read_handler = [this, plan](std::uint32_t) -> BusReply {
      const auto& calls = bus().calls;
      int reads = 0;  // this read included
      const RecordingBus::Call* last = nullptr;
      for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (it->kind == Kind::Write) {
          last = &*it;
          break;
        }
        ++reads;
      }
      if (last == nullptr) return testing::silent_reply();
      if (last == &calls.front()) {  // the start packet
        const int ack_read = plan.start_reads_before_ack + 1;
        if (!plan.acknowledge_start) return testing::silent_reply();
        if (reads < ack_read) return testing::silent_reply();
        if (reads == ack_read) return testing::reply_bytes({0x01}, plan.start_ack_status);
        if (plan.erase_reads_before_done >= 0 &&
            reads == ack_read + plan.erase_reads_before_done + 1) {
          return testing::reply_bytes({0x55});
        }
        return testing::silent_reply();
      }
      if (last->out[0] == 0xFF && last->out[1] == 0x01 && plan.echo_commits) {
        return testing::reply_bytes({last->out[2]});
      }
      return testing::silent_reply();
    };
  }

  std::int32_t run(const std::string& path) { return update_fpga_image(context(), path.c_str()); }

  std::vector<std::vector<std::uint8_t>> writes() const { return recording.bus->written(); }

  // The flash content carried by the data packets, in order.
  std::vector<std::uint8_t> reassembled() const {
    std::vector<std::uint8_t> flash;
    for (const auto& packet : writes()) {
      if (packet.size() == 256 && packet[0] == 0xFE) {
        flash.insert(flash.end(), packet.begin() + 2, packet.begin() + 2 + packet[1]);
      }
    }
    return flash;
  }

  std::size_t reads() const { return recording.bus->count(Kind::Read); }
};

std::vector<std::uint8_t> control_packet(std::uint8_t code) {
  std::vector<std::uint8_t> packet(256, 0xFF);
  packet[1] = 0x01;
  packet[2] = code;
  return packet;
}

// ---- Images: what reaches the flash for each kind of file.

struct ImageCase {
  const char* name;
  std::string file_name;
  std::size_t file_size;
  std::size_t reported_length;
  // The flash content expected from the file's bytes.
  std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> flash;
};
void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> container_flash(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> flash(kFlash, 0x00);
  for (std::size_t i = 0; i < kFlash && kOffset + i < file.size(); ++i) flash[i] = file[kOffset + i];
  return flash;
}

std::vector<std::uint8_t> raw_flash(const std::vector<std::uint8_t>& file) {
  std::vector<std::uint8_t> flash(kFlash, 0xFF);
  std::copy(file.begin(), file.end(), flash.begin());
  return flash;
}

class FpgaImageTest : public FpgaUpdateTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(FpgaImageTest, SendsTheWholeFlashInPacketsAndReportsTheImageLength) {
  const ImageCase& c = GetParam();
  const std::vector<std::uint8_t> file = testing::pattern_bytes(c.file_size);
  serve({});
  ASSERT_EQ(run(folder.write(c.file_name, file)), ZR_OK);

  const auto sent = writes();
  ASSERT_EQ(sent.size(), 1 + 2 * kPackets + 1);
  EXPECT_EQ(sent.front(), control_packet(0x01));
  EXPECT_EQ(sent.back(), control_packet(0x05));
  for (std::size_t i = 0; i < kPackets; ++i) {
    const auto& data = sent[1 + 2 * i];
    const auto& commit = sent[2 + 2 * i];
    const std::size_t n = i + 1 < kPackets ? 197 : 40;
    ASSERT_EQ(data.size(), 256u);
    ASSERT_EQ(data[0], 0xFE) << "packet " << i;
    ASSERT_EQ(data[1], n) << "packet " << i;
    for (std::size_t b = 2 + n; b < 256; ++b) ASSERT_EQ(data[b], 0xFF) << "packet " << i;
    ASSERT_EQ(commit, control_packet(static_cast<std::uint8_t>(n))) << "packet " << i;
  }
  EXPECT_TRUE(reassembled() == c.flash(file));
  // start ack, three silent erase reads and the 0x55, one echo read per packet
  EXPECT_EQ(reads(), 1 + 4 + kPackets);
  EXPECT_EQ(transcript(), head_text(c.reported_length) + kStartedText + progress_text(kPackets) +
                              "\n");
}

INSTANTIATE_TEST_SUITE_P(
    FpgaFiles, FpgaImageTest,
    ::testing::Values(
        ImageCase{"Container", "FPGA_1.2.3.jic", kOffset + kFlash + 1000, kFlash, container_flash},
        // The missing tail of a short container stays zero, not 0xFF.
        ImageCase{"ShortContainer", "FPGA_1.2.3.jic", kOffset + 5000, kFlash, container_flash},
        ImageCase{"Raw", "FPGA_1.2.3.rpd", 1000000, 1000000, raw_flash},
        ImageCase{"RawFillingTheFlash", "FPGA.rpd", kFlash, kFlash, raw_flash},
        ImageCase{"EmptyRaw", "FPGA.rpd", 0, 0, raw_flash},
        // ".rpd" anywhere in the path makes it raw, even in a folder name.
        ImageCase{"RawByFolderName", "images.rpd/FPGA_1.2.3.jic", 1000000, 1000000, raw_flash}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FpgaUpdateTest, MissingCommitEchoesCostTenReadsEachAndTheUpdateStillFinishes) {
  ServicePlan plan;
  plan.echo_commits = false;
  serve(plan);
  ASSERT_EQ(run(folder.write("FPGA.rpd", testing::pattern_bytes(1000))), ZR_OK);
  EXPECT_EQ(writes().size(), 1 + 2 * kPackets + 1);
  EXPECT_EQ(writes().back(), control_packet(0x05));
  EXPECT_EQ(reads(), 1 + 4 + 10 * kPackets);
  EXPECT_TRUE(transcript().ends_with("\b\b\b\b\b\b\b100.00%\n"));
}

// ---- Refused before anything is sent.

TEST_F(FpgaUpdateTest, RefusesUnreadableAndOversizedImagesBeforeSendingAnything) {
  folder.write("folder.rpd/inside", {});
  const std::vector<std::string> paths = {
      folder.path("missing.jic"),
      folder.write("FPGA.rpd", testing::pattern_bytes(kFlash + 1)),  // never silently cut
      folder.path("folder.rpd"),                                     // a directory
  };
  serve({});
  for (const std::string& path : paths) {
    console_text.str("");
    EXPECT_EQ(run(path), ZR_FW_IMAGE_UNREADABLE) << path;
    EXPECT_EQ(transcript(), kReadyLine) << path;
  }
  EXPECT_EQ(update_fpga_image(context(), nullptr), ZR_FW_IMAGE_UNREADABLE);
  EXPECT_TRUE(bus().calls.empty());
}

// ---- Failures after the start, each with its status, message and what was sent.

struct FailureCase {
  const char* name;
  ServicePlan plan;
  std::vector<std::int32_t> write_statuses;  // consumed by the writes in order
  std::int32_t status;
  std::string after_head;  // the transcript after the head lines
  std::size_t writes;
  std::size_t reads;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class FpgaFailureTest : public FpgaUpdateTest,
                        public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FpgaFailureTest, StopsWithItsStatusAndMessage) {
  const FailureCase& c = GetParam();
  serve(c.plan);
  bus().write_statuses.assign(c.write_statuses.begin(), c.write_statuses.end());
  EXPECT_EQ(run(folder.write("FPGA.rpd", testing::pattern_bytes(5000))), c.status);
  EXPECT_EQ(transcript(), head_text(5000) + c.after_head);
  EXPECT_EQ(writes().size(), c.writes);
  EXPECT_EQ(reads(), c.reads);
  // Nothing after the failure: the last write is the one that failed or the start.
  EXPECT_EQ(writes().front(), control_packet(0x01));
}

ServicePlan silent_start() {
  ServicePlan plan;
  plan.acknowledge_start = false;
  return plan;
}
ServicePlan start_ack_with_error() {
  ServicePlan plan;
  plan.start_ack_status = ZR_BUS_ETH_NO_REPLY;
  return plan;
}
// The 20th read still counts as the acknowledgement; then the erase never ends.
ServicePlan late_start_endless_erase() {
  ServicePlan plan;
  plan.start_reads_before_ack = 19;
  plan.erase_reads_before_done = -1;
  return plan;
}
ServicePlan late_start_late_erase() {
  ServicePlan plan;
  plan.start_reads_before_ack = 20;
  return plan;
}

constexpr std::int32_t kFail = ZR_BUS_ETH_NO_REPLY;

INSTANTIATE_TEST_SUITE_P(
    FpgaPhases, FpgaFailureTest,
    ::testing::Values(
        FailureCase{"StartNotWritten", {}, {kFail}, ZR_FW_NOT_STARTED, kUnresponsive, 1, 0},
        FailureCase{"StartNeverAcknowledged", silent_start(), {}, ZR_FW_NOT_STARTED,
                    kUnresponsive, 1, 20},
        FailureCase{"StartAcknowledgedTooLate", late_start_late_erase(), {}, ZR_FW_NOT_STARTED,
                    kUnresponsive, 1, 20},
        FailureCase{"StartAcknowledgedByAFailedRead", start_ack_with_error(), {},
                    ZR_FW_NOT_STARTED, kUnresponsive, 1, 1},
        FailureCase{"EraseNeverCompletes", late_start_endless_erase(), {}, ZR_FW_ERASE_FAILED,
                    kStartedText + kEraseFailed, 1, 20 + 300},
        FailureCase{"FirstDataPacketNotWritten", {}, {ZR_OK, kFail}, ZR_TRANSPORT_FAILED,
                    kStartedText + progress_text(0) + kBusError, 2, 5},
        FailureCase{"FirstCommitNotWritten", {}, {ZR_OK, ZR_OK, kFail}, ZR_TRANSPORT_FAILED,
                    kStartedText + progress_text(0) + kBusError, 3, 5},
        FailureCase{"ThirdDataPacketNotWritten", {}, {ZR_OK, ZR_OK, ZR_OK, ZR_OK, ZR_OK, kFail},
                    ZR_TRANSPORT_FAILED, kStartedText + progress_text(2) + kBusError, 6, 7}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FpgaUpdateTest, UnwrittenFinishReturnsMinus24WithoutMessageOrLineEnd) {
  serve({});
  std::vector<std::int32_t> statuses(1 + 2 * kPackets, ZR_OK);
  statuses.push_back(kFail);
  bus().write_statuses.assign(statuses.begin(), statuses.end());
  EXPECT_EQ(run(folder.write("FPGA.rpd", testing::pattern_bytes(5000))), ZR_FW_FINISH_FAILED);
  EXPECT_EQ(transcript(), head_text(5000) + kStartedText + progress_text(kPackets));
  EXPECT_EQ(writes().back(), control_packet(0x05));
}

}  // namespace
}  // namespace zr
