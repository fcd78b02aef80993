#pragma once
// Tables the simulated instrument keeps and serves page by page to the table read (0x5b).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zr::sim {

inline constexpr std::size_t kTablePageSize = 256;
inline constexpr std::size_t kTablePageDataOffset = 5;
inline constexpr std::size_t kMaxTablePageData = kTablePageSize - kTablePageDataOffset;  // 251

struct StoredTable {
  std::uint8_t kind = 0;
  std::uint16_t index = 0;
  std::vector<std::uint8_t> data;
  std::uint8_t page_data = kMaxTablePageData;  // data bytes per page; 0 counts as 1

  // Misconfigurations, so that tests meet every check of the reader. Unset, the pages are sound.
  std::optional<std::uint16_t> reported_pages;  // page count every reply carries instead
  std::uint16_t page_number_shift = 0;          // added to the page number every reply carries
  std::optional<std::uint8_t> reported_valid;   // valid-byte count every reply claims instead
  std::optional<std::uint16_t> delivered_size;  // bytes delivered per page, at most 256
};

// Page count of a table: at least 1, so that an empty table still answers page 0.
std::uint32_t table_page_count(const StoredTable& table);

// Page `page` of table (null: a table the instrument does not hold, served as an empty one).
// Pages past the end carry no data. The page is cut to delivered_size when that is set.
std::vector<std::uint8_t> encode_table_page(const StoredTable* table, std::uint16_t page);

// The first table of tables with this kind and index, or null.
const StoredTable* find_table(std::span<const StoredTable> tables, std::uint8_t kind,
                              std::uint16_t index);

}  // namespace zr::sim
