#pragma once
// The simulated instrument's TCP network service: accepts connections, answers the greeting and
// carries out every request against the instrument model, with the faults of a FaultPlan.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
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

// Longest length field a request may carry; a longer one closes the connection.
inline constexpr std::uint32_t kMaxRequestField = 16u * 1024u * 1024u;
// Requests are recorded whole until they take this many bytes together; later ones are only
// counted (see requests_received) until clear_records.
inline constexpr std::size_t kDefaultRequestRecordLimit = 128u * 1024u * 1024u;

class NetworkService {
 public:
  // The plan's instrument faults go to the model at once (they hold for every connection);
  // the rest of the plan applies to each connection from its accept on.
  explicit NetworkService(InstrumentModel& model, FaultPlan plan = {});
  ~NetworkService();  // stops serving and joins its threads
  NetworkService(const NetworkService&) = delete;
  NetworkService& operator=(const NetworkService&) = delete;

  // Binds to address:port (port 0 picks a free one) and serves on threads of its own, one per
  // connection. Returns false and sets error when the address cannot be bound.
  bool start(const std::string& address, std::uint16_t port, std::string& error);
  std::uint16_t port() const;
  // Closes the listening socket and every connection, cuts short any fault delay and joins.
  void stop();

  // Replaces the fault plan for connections accepted from now on; its instrument faults hold at
  // once.
  void set_fault_plan(FaultPlan plan);
  // Where the service logs connections it closes on bad input (standard error by default).
  void set_log(std::ostream& log);
  void set_record_limit(std::size_t bytes);

  std::vector<RecordedRequest> requests() const;
  std::vector<std::vector<std::uint8_t>> greetings() const;  // the 36 bytes of each greeting
  std::uint32_t connections_accepted() const;
  std::uint64_t requests_received() const;  // every complete request, recorded or not
  // Forgets the recorded requests and greetings; counters and connection numbers go on.
  void clear_records();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zr::sim
