// A short session with an instrument's network service over the Ethernet bus: open, show what
// the instrument reports about itself, send one command frame, ask for the kernel information,
// close. Meant for the simulator, so it only talks to loopback addresses.
//
// Usage: eth_session ADDRESS PORT
#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bus/bus_eth.hpp"

namespace {

std::string identity_field(const zr::BusInfo& info, std::size_t offset) {
  std::string text;
  for (std::size_t i = offset; i < offset + 30 && info.identity_text[i] != 0; ++i) {
    text.push_back(static_cast<char>(info.identity_text[i]));
  }
  return text;
}

std::string version_text(std::uint32_t word) {
  return std::to_string(word >> 16) + "." + std::to_string((word >> 8) & 0xFF) + "." +
         std::to_string(word & 0xFF);
}

bool parse_loopback(const char* text, ConnectionParams& params) {
  in_addr v4{};
  in6_addr v6{};
  if (::inet_pton(AF_INET, text, &v4) == 1) {
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&v4.s_addr);
    if (octets[0] != 127) return false;
    params.address_family = 0;
    std::copy(octets, octets + 4, params.address);
    return true;
  }
  if (::inet_pton(AF_INET6, text, &v6) == 1) {
    if (!IN6_IS_ADDR_LOOPBACK(&v6)) return false;
    params.address_family = 1;
    std::copy(v6.s6_addr, v6.s6_addr + 16, params.address);
    return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: eth_session ADDRESS PORT\n");
    return 2;
  }
  ConnectionParams params{};
  params.interface = ZR_INTERFACE_ETH;
  params.timeout_ms = 2000;
  if (!parse_loopback(argv[1], params)) {
    std::fprintf(stderr, "eth_session: %s is not a loopback address\n", argv[1]);
    return 2;
  }
  const long port = std::strtol(argv[2], nullptr, 10);
  if (port <= 0 || port > 65535) {
    std::fprintf(stderr, "eth_session: bad port '%s'\n", argv[2]);
    return 2;
  }
  params.port = static_cast<std::uint16_t>(port);

  zr::bus_eth bus(params, 0, 0);
  const std::int32_t opened = bus.open();
  if (opened != ZR_OK) {
    std::fprintf(stderr, "eth_session: open failed with status %d\n", opened);
    return 1;
  }
  const zr::BusInfo& info = bus.info();
  std::printf("Connected to %s port %ld\n", argv[1], port);
  std::printf("  product:      %s\n", identity_field(info, 0).c_str());
  std::printf("  serial:       %s\n", identity_field(info, 30).c_str());
  std::printf("  manufacturer: %s\n", identity_field(info, 60).c_str());
  std::printf("  bus firmware: %s\n", version_text(info.firmware_version).c_str());
  std::printf("  link:         kind %u, %u MB/s\n", info.link_kind, info.link_bandwidth);

  std::vector<std::uint8_t> frame(256, 0);
  frame[0] = 0x34;
  std::uint32_t length = 256;
  std::printf("Command frame of 256 bytes: status %d\n", bus.write(frame.data(), &length));

  const std::string query = "tvx --device-kernel-info-all";
  std::vector<char> reply(4096);
  std::uint32_t reply_length = static_cast<std::uint32_t>(reply.size());
  const std::int32_t asked = bus.text_command(
      query.data(), static_cast<std::uint32_t>(query.size()), reply.data(), &reply_length);
  std::printf("Kernel information (status %d):\n%.*s", asked, static_cast<int>(reply_length),
              reply.data());
  if (reply_length > 0 && reply[reply_length - 1] != '\n') std::printf("\n");

  const std::int32_t closed = bus.close();
  std::printf("Closed: status %d\n", closed);
  return closed == ZR_OK ? 0 : 1;
}
