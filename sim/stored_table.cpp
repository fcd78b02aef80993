#include "sim/stored_table.hpp"

#include <algorithm>
#include <limits>

#include "platform/le_codec.hpp"

namespace zr::sim {
namespace {

std::size_t data_per_page(const StoredTable& table) {
  return std::clamp<std::size_t>(table.page_data, 1, kMaxTablePageData);
}

}  // namespace

std::uint32_t table_page_count(const StoredTable& table) {
  const std::size_t per_page = data_per_page(table);
  const std::size_t pages = (table.data.size() + per_page - 1) / per_page;
  // The count field is 16 bits wide; a larger table cannot be described at all.
  return static_cast<std::uint32_t>(
      std::clamp<std::size_t>(pages, 1, std::numeric_limits<std::uint16_t>::max()));
}

std::vector<std::uint8_t> encode_table_page(const StoredTable* table, std::uint16_t page) {
  std::vector<std::uint8_t> out(kTablePageSize, 0);
  std::uint32_t pages = 1;
  std::size_t first = 0;
  std::size_t count = 0;
  if (table != nullptr) {
    pages = table_page_count(*table);
    const std::size_t per_page = data_per_page(*table);
    first = std::size_t{page} * per_page;
    if (first < table->data.size()) count = std::min(per_page, table->data.size() - first);
  }
  std::uint16_t reported_pages = static_cast<std::uint16_t>(pages);
  std::uint16_t reported_page = page;
  std::uint8_t reported_valid = static_cast<std::uint8_t>(count);
  if (table != nullptr) {
    if (table->reported_pages) reported_pages = *table->reported_pages;
    reported_page = static_cast<std::uint16_t>(page + table->page_number_shift);
    if (table->reported_valid) reported_valid = *table->reported_valid;
  }
  store_u16(out.data(), reported_pages);
  store_u16(out.data() + 2, reported_page);
  out[4] = reported_valid;
  if (count != 0) {
    const auto from = table->data.begin() + static_cast<std::ptrdiff_t>(first);
    std::copy(from, from + static_cast<std::ptrdiff_t>(count),
              out.begin() + static_cast<std::ptrdiff_t>(kTablePageDataOffset));
  }
  if (table != nullptr && table->delivered_size) {
    out.resize(std::min<std::size_t>(*table->delivered_size, kTablePageSize));
  }
  return out;
}

const StoredTable* find_table(std::span<const StoredTable> tables, std::uint8_t kind,
                              std::uint16_t index) {
  auto it = std::find_if(tables.begin(), tables.end(), [&](const StoredTable& table) {
    return table.kind == kind && table.index == index;
  });
  return it != tables.end() ? &*it : nullptr;
}

}  // namespace zr::sim
