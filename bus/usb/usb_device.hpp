#pragma once
// UsbDevice: one USB device of a device class, opened by index through the active UsbDriver. It
// reads the descriptors and strings, builds the configuration, interface and endpoint objects,
// selects configuration 0 and the current alternate setting and names the first endpoint of each
// kind.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bus/usb/usb_config.hpp"
#include "bus/usb/usb_descriptors.hpp"
#include "bus/usb/usb_driver.hpp"
#include "bus/usb/usb_endpoint.hpp"

namespace zr::usb {

inline constexpr std::size_t kMaxConfigurations = 2;
inline constexpr std::size_t kMaxDevicePath = 255;
inline constexpr std::size_t kMaxDevicesPerClass = 255;
inline constexpr std::uint16_t kPreferredLanguage = 0x0409;
inline constexpr std::uint8_t kUnknownAltSetting = 0xFF;
inline constexpr std::uint32_t kDescriptorTimeoutS = 5;

class UsbDevice {
 public:
  explicit UsbDevice(DeviceClass device_class, UsbDriver& driver = active_usb_driver());
  ~UsbDevice();
  UsbDevice(const UsbDevice&) = delete;
  UsbDevice& operator=(const UsbDevice&) = delete;

  // Present devices of the class; at most 255 are reachable by index.
  std::uint8_t CountDevices();
  bool Open(std::uint8_t index);
  // Releases the handle and every descriptor and endpoint object. A driver that fails to close
  // the handle is reported on standard error and makes this return false; it never throws.
  bool Close();
  std::uint8_t CountEndpoints() const;
  void SelectConfiguration(std::uint8_t index);
  void SelectAltSetting(std::uint8_t alt_setting);

  bool is_open() const { return link_->valid(); }
  DeviceClass device_class() const { return class_; }
  const std::string& DevicePath() const { return path_; }
  DriverHandle Handle() const { return link_->handle; }
  std::uint8_t DeviceNumber() const { return device_number_; }
  std::uint8_t device_count() const { return device_count_; }

  std::uint16_t UsbVersion() const { return descriptor_.usb_version; }
  std::uint16_t VendorId() const { return descriptor_.vendor_id; }
  std::uint16_t ProductId() const { return descriptor_.product_id; }
  std::uint16_t DeviceRelease() const { return descriptor_.device_release; }
  std::uint32_t MaxPacketSize0() const { return max_packet_size0_; }
  std::uint8_t configuration_count() const { return descriptor_.configuration_count; }
  const DeviceDescriptor& device_descriptor() const { return descriptor_; }

  std::uint16_t LanguageId() const { return language_id_; }
  const std::u16string& Manufacturer() const { return manufacturer_; }
  const std::u16string& Product() const { return product_; }
  const std::u16string& SerialNumber() const { return serial_; }

  std::uint32_t driver_version() const { return driver_version_; }
  std::uint32_t stack_version() const { return stack_version_; }
  std::uint8_t device_address() const { return device_address_; }
  const std::string& driver_device_name() const { return driver_name_; }
  const std::string& friendly_name() const { return friendly_name_; }
  bool high_speed() const { return high_speed_; }
  bool super_speed() const { return super_speed_; }

  const UsbConfig* config(std::size_t index) const {
    return index < configs_.size() ? configs_[index].get() : nullptr;
  }
  const std::optional<UsbBos>& bos() const { return bos_; }
  std::uint8_t configuration_value() const { return config_value_; }
  std::uint8_t selected_interface_index() const { return interface_index_; }
  std::uint8_t interface_class() const { return interface_class_; }

  UsbInterface* CurrentInterface() const { return current_interface_; }
  UsbControlEndpoint* ControlEndpoint() const { return control_.get(); }
  UsbEndpoint* IsocIn() const { return isoc_in_; }
  UsbEndpoint* IsocOut() const { return isoc_out_; }
  UsbEndpoint* BulkIn() const { return bulk_in_; }
  UsbEndpoint* BulkOut() const { return bulk_out_; }
  UsbEndpoint* InterruptIn() const { return interrupt_in_; }
  UsbEndpoint* InterruptOut() const { return interrupt_out_; }

  DriverError last_error() const { return last_error_; }
  std::uint32_t last_usb_status() const { return last_usb_status_; }
  std::uint32_t last_nt_status() const { return last_nt_status_; }
  std::uint32_t bytes_returned() const { return bytes_returned_; }

 private:
  // A descriptor of n bytes, or nothing when the driver did not return exactly that many.
  std::optional<std::vector<std::uint8_t>> read_descriptor(std::uint8_t type, std::uint8_t index,
                                                           std::uint16_t language,
                                                           std::uint16_t length);
  // Reads the short head to learn the length, then the whole descriptor.
  std::optional<std::vector<std::uint8_t>> read_sized(std::uint8_t type, std::uint8_t index,
                                                      std::uint16_t language);
  bool sync_request(std::uint32_t code, std::span<std::uint8_t> buffer);
  std::uint32_t query_u32(std::uint32_t code);
  std::string query_name(std::uint32_t code);
  void read_strings();
  void read_driver_facts();
  void assign_endpoints();
  void reject(std::string_view title, std::string_view text);

  DeviceClass class_;
  UsbDriver& driver_;
  std::shared_ptr<DriverLink> link_;
  std::string path_;
  std::uint8_t device_number_ = 0;
  std::uint8_t device_count_ = 0;

  DeviceDescriptor descriptor_{};
  std::uint32_t max_packet_size0_ = 0;
  std::uint16_t language_id_ = 0;
  std::u16string manufacturer_;
  std::u16string product_;
  std::u16string serial_;

  std::uint32_t driver_version_ = 0;
  std::uint32_t stack_version_ = 0;
  std::uint8_t device_address_ = 0;
  std::string driver_name_;
  std::string friendly_name_;
  bool high_speed_ = false;
  bool super_speed_ = false;

  std::vector<std::vector<std::uint8_t>> raw_configs_;
  std::vector<std::unique_ptr<UsbConfig>> configs_;
  std::vector<std::uint8_t> raw_bos_;
  std::optional<UsbBos> bos_;
  const UsbConfig* selected_config_ = nullptr;
  std::uint8_t config_value_ = 0;
  std::uint8_t config_attributes_ = 0;
  std::uint8_t config_max_power_ = 0;
  std::uint8_t config_interface_count_ = 0;
  std::uint8_t config_interface_objects_ = 0;
  std::uint8_t first_interface_number_ = 0;
  std::uint8_t interface_index_ = 0;
  std::uint8_t interface_class_ = 0;
  std::uint8_t interface_subclass_ = 0;
  std::uint8_t interface_protocol_ = 0;

  UsbInterface* current_interface_ = nullptr;
  std::unique_ptr<UsbControlEndpoint> control_;
  UsbEndpoint* isoc_in_ = nullptr;
  UsbEndpoint* isoc_out_ = nullptr;
  UsbEndpoint* bulk_in_ = nullptr;
  UsbEndpoint* bulk_out_ = nullptr;
  UsbEndpoint* interrupt_in_ = nullptr;
  UsbEndpoint* interrupt_out_ = nullptr;

  DriverError last_error_ = DriverError::none;
  std::uint32_t last_usb_status_ = 0;
  std::uint32_t last_nt_status_ = 0;
  std::uint32_t bytes_returned_ = 0;
};

}  // namespace zr::usb
