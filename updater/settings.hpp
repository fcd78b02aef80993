#pragma once
// The updater's connection settings: how to reach the instrument (USB and which one, or Ethernet
// with address, port and time-out), settled once at start-up from, in this order,
//   1. all five command-line keys interface, devicenum, ip, port and timeout;
//   2. otherwise Settings.ini beside the program (values by position: interface, device number,
//      address, port, time-out), the command line then being discarded entirely;
//   3. otherwise the defaults, after a console notice.
//
// Use from the program's entry:
//   ResolvedSettings settings;                       // defaults, not given
//   ConnectionSettings command_line;
//   for each argument "key=value":  command_line.settings_assign(lower-cased key, value);
//   if (!command_line.settings_resolve(settings)) return kExitInvalidSettings;
//   ... settings.params, settings.device_number, settings.settings_given
//
// Values stay text until settings_resolve, and only the values the chosen source and interface
// use are converted: devicenum always, ip/port/timeout only with Ethernet. So a bad value that
// ends up unused is never an error.
#include <array>
#include <cstdint>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "include/zr_api.h"
#include "platform/paths.hpp"

namespace zr::updater {

// USB, IPv4 192.168.1.100, port 5000, time-out 10000 ms, everything else 0.
ConnectionParams default_connection_params();

// What the rest of the updater works with; the caller owns the one instance of a run.
struct ResolvedSettings {
  ConnectionParams params = default_connection_params();
  std::uint8_t device_number = 0;
  bool settings_given = false;  // true when the command line or Settings.ini supplied them
};

// The settings assignments of one command line, until they are resolved.
class ConnectionSettings {
 public:
  // key arrives lower-cased, value as typed. Keys other than the five are ignored; a repeated key
  // overwrites the earlier value.
  void settings_assign(std::string_view key, std::string_view value);

  // All five keys given: the command line decides and Settings.ini is not read.
  [[nodiscard]] bool complete() const;

  // Applies the precedence above to `settings`; folder is where Settings.ini is looked for.
  // An "interface" holding "ETH" (case-sensitive, anywhere) selects Ethernet, else one holding
  // "USB" selects USB, else the interface stays as it was. Device number, port and time-out keep
  // the low 8, 16 and 32 bits of their value.
  // Returns false, after one line on `errors` naming the source, the key or position and the
  // text, when a used number has no digits or lies outside the 32-bit signed range, or when
  // Settings.ini holds fewer than 2 values (fewer than 5 with Ethernet); `settings` is then
  // untouched and the program exits with kExitInvalidSettings.
  [[nodiscard]] bool settings_resolve(ResolvedSettings& settings,
                                      const std::string& folder = executable_dir(),
                                      std::ostream& errors = std::cerr) const;

 private:
  std::array<std::optional<std::string>, 5> values_;
};

}  // namespace zr::updater
