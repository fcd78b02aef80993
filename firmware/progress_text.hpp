#pragma once
// Formatting of the progress values shown while an image is sent.
#include <string>

namespace zr {

// "%6.2f%%": six characters right-aligned, two decimals and a percent sign.
std::string percent_field(float percent);

// A double in the stream's default format (six significant digits, no trailing zeros).
std::string default_format(double value);

}  // namespace zr
