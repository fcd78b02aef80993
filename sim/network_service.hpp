#pragma once
// The simulated instrument's TCP network service: accepts connections, answers the greeting and
// carries out every request against the instrument model, with the faults of a FaultPlan.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/fault_plan.hpp"
#include "sim/instrument_model.hpp"

namespace zr::sim {

// One request exactly as it arrived: the opcode and every byte of the request including the
// opcode word, so tests can compare the bytes on the wire.
struct RecordedRequest {
  std::uint32_t connection = 0;  // 1-based number of the connection it arrived on
  std::uint32_t opcode = 0;
  std::vector<std::uint8_t> bytes;
};

class NetworkService {
 public:
  explicit NetworkService(InstrumentModel& model, FaultPlan plan = {});
  ~NetworkService();  // stops serving and joins its thread
  NetworkService(const NetworkService&) = delete;
  NetworkService& operator=(const NetworkService&) = delete;

  // Binds to address:port (port 0 picks a free one) and serves on a thread of its own.
  // Returns false and sets error when the address cannot be bound.
  bool start(const std::string& address, std::uint16_t port, std::string& error);
  std::uint16_t port() const;
  void stop();

  // Replaces the fault plan for connections accepted from now on.
  void set_fault_plan(FaultPlan plan);

  std::vector<RecordedRequest> requests() const;
  std::vector<std::vector<std::uint8_t>> greetings() const;  // the 36 bytes of each greeting
  std::uint32_t connections_accepted() const;
  void clear_records();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zr::sim
