#include "emulated_usb_device.hpp"

// usbdevice_fs.h needs the ioctl macros first.
#include <sys/ioctl.h>

#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <span>
#include <vector>

namespace zr::test {
namespace {

constexpr unsigned kCapabilities = 0;  // no scatter-gather: libusb splits large bulk transfers

std::string hex(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  char pair[3];
  for (std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += pair;
  }
  return text;
}

// The URB lives in umockdev's copy of the client's memory; copy it out and back rather than
// aliasing the bytes as a struct.
usbdevfs_urb load_urb(const UMockdevIoctlData* data) {
  usbdevfs_urb urb{};
  std::memcpy(&urb, data->data, std::min<std::size_t>(sizeof urb, data->data_len));
  return urb;
}

void store_urb(UMockdevIoctlData* data, const usbdevfs_urb& urb) {
  std::memcpy(data->data, &urb, std::min<std::size_t>(sizeof urb, data->data_len));
}

}  // namespace

struct EmulatedUsbDevice::State {
  std::shared_ptr<sim::VirtualUsbDevice> device;
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  std::string error;
  std::string node_file;
  bool ready = false;

  // The handler runs on umockdev's thread.
  mutable std::mutex mutex;
  struct Urb {
    UMockdevIoctlData* data;  // the client's usbdevfs_urb, referenced until reaped
    bool hanging;
  };
  std::deque<Urb> done;
  std::deque<Urb> hanging;
  unsigned discarded = 0;
  unsigned clear_halts = 0;

  static gboolean on_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<State*>(self)->handle(client);
  }

  gboolean handle(UMockdevIoctlClient* client) {
    const gulong request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
        if (caps == nullptr) break;
        const unsigned value = kCapabilities;
        std::memcpy(caps->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE:
      case USBDEVFS_DISCONNECT_CLAIM:
      case USBDEVFS_SETINTERFACE:
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_CLEAR_HALT: {
        std::lock_guard lock(mutex);
        ++clear_halts;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_GETDRIVER:
      case USBDEVFS_IOCTL:
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      case USBDEVFS_SUBMITURB:
        return submit(client, arg);
      case USBDEVFS_REAPURBNDELAY:
        return reap(client, arg);
      case USBDEVFS_DISCARDURB:
        return discard(client, arg);
      default:
        break;
    }
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }

  gboolean submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urb_data =
        umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    if (urb_data == nullptr) {
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    usbdevfs_urb urb = load_urb(urb_data);
    UMockdevIoctlData* buffer = nullptr;
    if (urb.buffer_length > 0) {
      buffer = umockdev_ioctl_data_resolve(urb_data, offsetof(usbdevfs_urb, buffer),
                                           static_cast<gsize>(urb.buffer_length), nullptr);
      if (buffer == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
      }
    }
    std::span<std::uint8_t> bytes(buffer != nullptr ? buffer->data : nullptr,
                                  static_cast<std::size_t>(std::max(urb.buffer_length, 0)));
    sim::UsbTransferOutcome outcome;
    if (urb.type == USBDEVFS_URB_TYPE_CONTROL) {
      if (bytes.size() < 8) {
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      sim::UsbControlSetup setup;
      setup.request_type = bytes[0];
      setup.request = bytes[1];
      setup.value = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
      setup.index = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
      setup.length = static_cast<std::uint16_t>(bytes[6] | bytes[7] << 8);
      auto stage = bytes.subspan(8, std::min<std::size_t>(setup.length, bytes.size() - 8));
      outcome = device->control(setup, stage);
    } else {
      outcome = device->data_transfer(urb.endpoint, bytes);
    }
    std::lock_guard lock(mutex);
    g_object_ref(urb_data);
    // A control URB's actual length leaves the setup packet out; a stall is -EPIPE.
    urb.actual_length = static_cast<int>(outcome.moved);
    urb.status = outcome.hang                           ? 0
                 : outcome.usb_status == usb::kUsbStall ? -EPIPE
                 : outcome.nt_status != usb::kNtSuccess ? -EIO
                                                        : 0;
    store_urb(urb_data, urb);
    (outcome.hang ? hanging : done).push_back({urb_data, outcome.hang});
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }

  gboolean reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    std::lock_guard lock(mutex);
    if (done.empty()) {
      umockdev_ioctl_client_complete(client, -1, EAGAIN);
      return TRUE;
    }
    UMockdevIoctlData* urb_data = done.front().data;
    done.pop_front();
    // The argument points at the client's URB pointer variable; the URB goes into that variable.
    UMockdevIoctlData* target = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    if (target == nullptr || !umockdev_ioctl_data_set_ptr(target, 0, urb_data)) {
      g_object_unref(urb_data);
      umockdev_ioctl_client_complete(client, -1, EFAULT);
      return TRUE;
    }
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(urb_data);
    return TRUE;
  }

  gboolean discard(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    gulong address = 0;
    std::memcpy(&address, arg->data, std::min<std::size_t>(sizeof address, arg->data_len));
    std::lock_guard lock(mutex);
    for (auto it = hanging.begin(); it != hanging.end(); ++it) {
      if (it->data->client_addr != address) continue;
      usbdevfs_urb urb = load_urb(it->data);
      urb.status = -ENOENT;
      store_urb(it->data, urb);
      done.push_back(*it);
      hanging.erase(it);
      ++discarded;
      umockdev_ioctl_client_complete(client, 0, 0);
      return TRUE;
    }
    umockdev_ioctl_client_complete(client, -1, EINVAL);
    return TRUE;
  }
};

EmulatedUsbDevice::EmulatedUsbDevice(std::shared_ptr<sim::VirtualUsbDevice> device, int address)
    : state_(std::make_unique<State>()) {
  state_->device = std::move(device);
  state_->testbed = umockdev_testbed_new();
  state_->handler = umockdev_ioctl_base_new();
  g_signal_connect(state_->handler, "handle-ioctl", G_CALLBACK(&State::on_ioctl), state_.get());

  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", address);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(state_->testbed, node, state_->handler, &error)) {
    state_->error = error != nullptr ? error->message : "attach_ioctl failed";
    g_clear_error(&error);
    return;
  }
  const sim::UsbDescriptorSet& set = state_->device->descriptors();
  std::vector<std::uint8_t> descriptors = set.device;
  for (const auto& config : set.configurations) {
    descriptors.insert(descriptors.end(), config.begin(), config.end());
  }
  char record[4096];
  std::snprintf(record, sizeof record,
                "P: /devices/pci0000:00/usb1/1-%d\n"
                "N: bus/usb/001/%03d\n"
                "E: SUBSYSTEM=usb\n"
                "E: DEVTYPE=usb_device\n"
                "E: DEVNAME=/dev/bus/usb/001/%03d\n"
                "E: BUSNUM=001\n"
                "E: DEVNUM=%03d\n"
                "A: busnum=1\\n\n"
                "A: devnum=%d\\n\n"
                "A: speed=480\\n\n"
                "A: bConfigurationValue=1\\n\n"
                "H: descriptors=%s\n",
                address, address, address, address, address, hex(descriptors).c_str());
  if (!umockdev_testbed_add_from_string(state_->testbed, record, &error)) {
    state_->error = error != nullptr ? error->message : "add_from_string failed";
    g_clear_error(&error);
    return;
  }
  gchar* root = umockdev_testbed_get_root_dir(state_->testbed);
  state_->node_file = std::string(root) + node;
  g_free(root);
  state_->ready = true;
}

EmulatedUsbDevice::~EmulatedUsbDevice() {
  {
    std::lock_guard lock(state_->mutex);
    for (auto& urb : state_->done) g_object_unref(urb.data);
    for (auto& urb : state_->hanging) g_object_unref(urb.data);
    state_->done.clear();
    state_->hanging.clear();
  }
  if (state_->testbed != nullptr) g_object_unref(state_->testbed);
  if (state_->handler != nullptr) g_object_unref(state_->handler);
}

bool EmulatedUsbDevice::ready() const { return state_->ready; }
std::string EmulatedUsbDevice::node_file() const { return state_->node_file; }
const std::string& EmulatedUsbDevice::error() const { return state_->error; }

unsigned EmulatedUsbDevice::discarded() const {
  std::lock_guard lock(state_->mutex);
  return state_->discarded;
}

unsigned EmulatedUsbDevice::clear_halts() const {
  std::lock_guard lock(state_->mutex);
  return state_->clear_halts;
}

}  // namespace zr::test
