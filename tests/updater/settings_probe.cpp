// Resolves the connection settings the way the updater does, from the folder of this program,
// and prints the result on one line for settings_beside_executable_test.
#include <iostream>

#include "updater/exit_codes.hpp"
#include "updater/settings.hpp"

int main() {
  zr::updater::ResolvedSettings settings;
  const zr::updater::ConnectionSettings command_line;
  if (!command_line.settings_resolve(settings)) return zr::updater::kExitInvalidSettings;
  const ConnectionParams& params = settings.params;
  std::cout << "interface=" << int{params.interface} << " devicenum=" << int{settings.device_number}
            << " ip=" << int{params.address[0]} << '.' << int{params.address[1]} << '.'
            << int{params.address[2]} << '.' << int{params.address[3]} << " port=" << params.port
            << " timeout=" << params.timeout_ms << " given=" << settings.settings_given << '\n';
  return 0;
}
