#include "firmware/progress_text.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <locale>
#include <sstream>

namespace zr {

std::string percent_field(float percent) {
  // Room for any float: the field only widens past six characters for absurd values.
  std::array<char, 64> text{};
  const int n = std::snprintf(text.data(), text.size(), "%6.2f%%", static_cast<double>(percent));
  if (n <= 0) return {};
  return std::string(text.data(), std::min(static_cast<std::size_t>(n), text.size() - 1));
}

std::string default_format(double value) {
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << value;
  return text.str();
}

}  // namespace zr
