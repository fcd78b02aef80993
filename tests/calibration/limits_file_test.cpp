// ini_get on the limits file: section, comment and split rules, trimming and length limits.
#include "calibration/limits_file.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "tests/calibration/cal_test_folder.hpp"

namespace zr {
namespace {

struct IniCase {
  const char* name;
  std::string file;
  const char* section;
  std::string key;
  std::int32_t status;
  std::string value;  // when found
};

std::vector<IniCase> ini_cases() {
  const std::string basic = "[TX_FREQ_FIXED]\nmin = 9000\nmax=6000000000 \n";
  const std::string seventy(70, 'v');
  return {
      {"min_with_blanks_around_the_equals", basic, "TX_FREQ_FIXED", "min", kIniFound, "9000"},
      {"max_with_a_trailing_blank", basic, "TX_FREQ_FIXED", "max", kIniFound, "6000000000"},
      {"section_names_are_case_sensitive", "[tx_freq_fixed]\nmin=1\n", "TX_FREQ_FIXED", "min",
       kIniNotFound, ""},
      {"keys_are_case_sensitive", "[A]\nMin=1\n", "A", "min", kIniNotFound, ""},
      {"semicolon_comment_is_ignored", "[A]\n;min=1\nmin=2\n", "A", "min", kIniFound, "2"},
      {"hash_comment_is_ignored", "[A]\n#min=1\n", "A", "min", kIniNotFound, ""},
      {"indented_section_line_is_no_header", "[A]\n [B]\nmin=3\n", "A", "min", kIniFound, "3"},
      {"indented_section_line_does_not_open_its_section", "[A]\n [B]\nmin=3\n", "B", "min",
       kIniNotFound, ""},
      {"key_without_value_is_skipped", "[A]\nmin=\nmin=4\n", "A", "min", kIniFound, "4"},
      {"line_without_key_is_skipped", "[A]\n=5\nmin=6\n", "A", "min", kIniFound, "6"},
      {"line_without_equals_is_skipped", "[A]\nmin 7\nmin=8\n", "A", "min", kIniFound, "8"},
      {"value_cut_to_63_characters", "[A]\nlong=" + seventy + "\n", "A", "long", kIniFound,
       std::string(63, 'v')},
      {"only_blanks_are_trimmed_not_tabs", "[A]\nk =\t1\t \n", "A", "k", kIniFound, "\t1\t"},
      {"value_keeps_further_equals_signs", "[A]\nk=a=b\n", "A", "k", kIniFound, "a=b"},
      {"crlf_line_ends", "[A]\r\nmin=9\r\n", "A", "min", kIniFound, "9"},
      {"first_match_wins", "[A]\nmin=1\nmin=2\n", "A", "min", kIniFound, "1"},
      {"key_in_another_section_is_not_found", "[A]\nx=1\n[B]\nmin=2\n", "A", "min", kIniNotFound,
       ""},
      {"section_may_appear_twice", "[A]\nx=1\n[B]\n[A]\nmin=2\n", "A", "min", kIniFound, "2"},
      {"key_before_any_section_is_not_found", "min=1\n[A]\n", "A", "min", kIniNotFound, ""},
      {"header_with_trailing_text_does_not_match", "[A] x\nmin=1\n", "A", "min", kIniNotFound, ""},
      {"blank_value_trims_to_one_character_at_most", "[A]\nk=  \n", "A", "k", kIniFound, ""},
      {"key_longer_than_127_characters_is_skipped", "[A]\n" + std::string(128, 'k') + "=1\n", "A",
       std::string(127, 'k'), kIniNotFound, ""},
      // A line over 255 characters is read in pieces, each piece taken as a line of its own.
      {"pieces_of_a_long_line_are_lines", "[A]\n#" + std::string(254, 'x') + "min=5\n", "A", "min",
       kIniFound, "5"},
      {"empty_file", "", "A", "min", kIniNotFound, ""},
  };
}

TEST(IniGet, FollowsTheLimitsFileRules) {
  for (const IniCase& c : ini_cases()) {
    SCOPED_TRACE(c.name);
    testing::CalTestFolder folder;
    folder.write_limits(c.file);
    std::array<char, kIniValueSize> value{};
    value.fill('#');
    ASSERT_EQ(ini_get(c.section, c.key.c_str(), value), c.status);
    if (c.status == kIniFound) {
      EXPECT_EQ(std::string(value.data()), c.value);
    }
  }
}

TEST(IniGet, MissingLimitsFile) {
  testing::CalTestFolder folder;
  std::array<char, kIniValueSize> value{};
  EXPECT_EQ(ini_get("TX_FREQ_FIXED", "min", value), kIniNoFile);
}

}  // namespace
}  // namespace zr
