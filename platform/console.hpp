#pragma once
// Console text of the library and the updater goes through one stream so that tests can capture
// whole transcripts.
#include <ostream>

namespace zr {

std::ostream& console();

// Redirects console() for its lifetime (tests capture into an ostringstream).
class ScopedConsole {
 public:
  explicit ScopedConsole(std::ostream& stream);
  ~ScopedConsole();
  ScopedConsole(const ScopedConsole&) = delete;
  ScopedConsole& operator=(const ScopedConsole&) = delete;

 private:
  std::ostream* previous_;
};

}  // namespace zr
