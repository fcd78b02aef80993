#include "device/usb_identity.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "platform/le_codec.hpp"

namespace zr {
namespace {

constexpr std::uint32_t kIdentityMagic = 0x5A5A5A5A;
constexpr std::size_t kProductIdOffset = 4;
constexpr std::size_t kProductNameOffset = 6;
constexpr std::size_t kSerialOffset = 36;
constexpr std::size_t kManufacturerOffset = 66;
constexpr std::size_t kTextFieldSize = 30;
constexpr std::size_t kFlagOffset = 98;
constexpr std::size_t kClassOffset = 99;
constexpr std::uint8_t kIdentityFlag = 1;
constexpr std::string_view kManufacturer = "Manufacturer";

struct Variant {
  std::string_view product_name;
  std::uint16_t product_id;
  std::uint8_t device_class;
};

constexpr Variant kSignalGenerator{"Signal Generator", 0x0A01, 1};
constexpr Variant kSpectrumAnalyzer{"Spectrum Analyzer", 0x010A, 2};
constexpr Variant kOtherInstrument{"Test & Measurment Device", 0x010A, 1};

// The model's tens select the instrument family.
Variant variant_of(std::uint16_t model) {
  switch (model / 10) {
    case 13:
      return kSignalGenerator;
    case 14:
      return kSpectrumAnalyzer;
    default:
      return kOtherInstrument;
  }
}

// std::to_chars does not depend on any locale, so the text is the same as in the "C" locale.
template <typename Unsigned>
void append_padded(std::string& out, Unsigned value, int base, std::size_t width) {
  std::array<char, 24> digits{};
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), value, base);
  const auto length = static_cast<std::size_t>(result.ptr - digits.data());
  if (length < width) out.append(width - length, '0');
  out.append(digits.data(), length);
}

void put_text(IdentityRecord& record, std::size_t offset, std::string_view text) {
  const std::size_t length = std::min(text.size(), kTextFieldSize);
  std::copy_n(text.begin(), length, record.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

std::string identity_serial(std::uint16_t model, std::uint32_t uid_high, std::uint64_t uid_low) {
  std::string serial;
  append_padded(serial, model, 10, 3);
  if (uid_high != 0 || uid_low != 0) {
    serial += '_';
    if (uid_high != 0) append_padded(serial, uid_high, 16, 8);
    if (uid_low != 0) append_padded(serial, uid_low, 16, 16);
  }
  return serial;
}

IdentityRecord build_identity_record(const DeviceIdentity& identity) {
  const Variant variant = variant_of(identity.model);
  IdentityRecord record{};
  store_u32(record.data(), kIdentityMagic);
  store_u16(record.data() + kProductIdOffset, variant.product_id);
  put_text(record, kProductNameOffset, variant.product_name);
  put_text(record, kSerialOffset,
           identity_serial(identity.model, identity.uid_high, identity.uid_low));
  put_text(record, kManufacturerOffset, kManufacturer);
  record[kFlagOffset] = kIdentityFlag;
  record[kClassOffset] = variant.device_class;
  return record;
}

std::int32_t identify_device(DeviceContext& context) {
  if (!context.bus) return ZR_TRANSPORT_FAILED;
  const IdentityRecord record = build_identity_record(context.identity);
  const std::int32_t status = context.bus->write_identity(record.data(), kIdentityRecordSize);
  if (status != ZR_OK) return ZR_TRANSPORT_FAILED;
  return ZR_OK;
}

}  // namespace zr
