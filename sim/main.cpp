// zr-sim: the simulated instrument on TCP, until SIGINT or SIGTERM.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <pthread.h>

#include "sim/instrument_model.hpp"
#include "sim/network_service.hpp"
#include "sim/program_options.hpp"
#include "sim/sim_text.hpp"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitCannotListen = 1;
constexpr int kExitBadOptions = 2;

}  // namespace

int main(int argc, char** argv) {
  using namespace zr::sim;

  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  auto options = parse_program_options(args, error);
  if (!options) {
    std::cerr << text::kProgramPrefix << error << '\n' << text::kUsageHint << std::endl;
    return kExitBadOptions;
  }
  if (options->help) {
    std::cout << text::kHelp << std::flush;
    return kExitOk;
  }

  // Block the stop signals before any thread starts, so that every thread inherits the mask and
  // only sigwait below receives them. A client that leaves must not kill the process.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  InstrumentModel model;
  NetworkService service(model, options->plan);
  if (!service.start(options->address, options->port, error)) {
    std::cerr << text::kProgramPrefix << error << std::endl;
    return kExitCannotListen;
  }
  std::cout << text::kListening << options->address << ':' << service.port() << std::endl;

  int received = 0;
  sigwait(&stop_signals, &received);
  service.stop();
  return kExitOk;
}
