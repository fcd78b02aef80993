#include "bus/usb/usb_endpoint.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <utility>

#include "bus/usb/transfer_header.hpp"
#include "platform/le_codec.hpp"

namespace zr::usb {
namespace {

constexpr std::uint8_t kDirectionInBit = 0x80;
constexpr std::uint16_t kPacketSizeMask = 0x07FF;
constexpr std::uint32_t kMaxControlLength = 0xFFFF;  // wLength is 16 bits

}  // namespace

UsbEndpoint::UsbEndpoint(std::shared_ptr<DriverLink> link) : link_(std::move(link)) {}

UsbEndpoint::UsbEndpoint(std::shared_ptr<DriverLink> link, const EndpointDescriptor& descriptor,
                         const CompanionDescriptor* companion)
    : link_(std::move(link)),
      descriptor_length_(descriptor.length),
      descriptor_type_(descriptor.type),
      address_(descriptor.address),
      attributes_(descriptor.attributes),
      interval_(descriptor.interval),
      direction_in_((descriptor.address & kDirectionInBit) != 0) {
  packets_per_microframe_ =
      static_cast<std::uint16_t>(1 + ((descriptor.max_packet_size >> 11) & 0x03));
  max_packet_size_ = static_cast<std::uint32_t>(descriptor.max_packet_size & kPacketSizeMask) *
                     packets_per_microframe_;
  if (companion != nullptr) {
    companion_ = *companion;
    max_packet_size_ *= companion->max_burst + 1u;
    if (transfer_type() == TransferType::isochronous) {
      max_packet_size_ *= 1u + (companion->attributes & 0x03u);
    }
  }
}

std::unique_ptr<TransferContext> UsbEndpoint::submit(std::uint32_t code,
                                                     std::vector<std::uint8_t> block,
                                                     std::span<std::uint8_t> output, bool buffered,
                                                     std::uint32_t length) {
  auto context = std::make_unique<TransferContext>();
  context->block = std::move(block);
  context->buffered = buffered;
  context->direction_in = direction_in_;
  context->length = length;
  std::span<std::uint8_t> out = buffered ? std::span<std::uint8_t>(context->block) : output;
  Submission submission = link_->driver->submit(link_->handle, code, context->block, out);
  context->error = submission.error;
  context->pending = std::move(submission.pending);
  last_error_ = submission.error;
  take_statuses(context->block);
  return context;
}

void UsbEndpoint::take_statuses(std::span<const std::uint8_t> block) {
  if (block.size() < kTransferHeaderSize) return;
  nt_status_ = load_u32(block.data() + kHeaderNtStatusOffset);
  usb_status_ = load_u32(block.data() + kHeaderUsbStatusOffset);
}

std::unique_ptr<TransferContext> UsbEndpoint::begin_non_control(std::uint8_t* buffer,
                                                                std::uint32_t length,
                                                                std::uint32_t record_count,
                                                                bool buffered) {
  if (!link_ || !link_->valid()) return nullptr;
  if (length > 0 && buffer == nullptr) return nullptr;
  const std::size_t records_length = std::size_t{record_count} * kPacketRecordSize;
  TransferHeader header;
  header.timeout_s = header_timeout_seconds(timeout_ms_);
  header.endpoint = address_;
  header.records_offset = record_count != 0 ? static_cast<std::uint32_t>(kTransferHeaderSize) : 0;
  header.records_length = static_cast<std::uint32_t>(records_length);
  std::vector<std::uint8_t> block(kTransferHeaderSize + records_length + (buffered ? length : 0));
  if (buffered) {
    header.data_offset = static_cast<std::uint32_t>(kTransferHeaderSize + records_length);
    header.data_length = length;
    if (length > 0) std::memcpy(block.data() + header.data_offset, buffer, length);
  }
  encode_header(header, block);
  return submit(buffered ? kRequestBufferedTransfer : kRequestDirectTransfer, std::move(block),
                std::span<std::uint8_t>(buffer, length), buffered, length);
}

std::unique_ptr<TransferContext> UsbEndpoint::BeginDirect(std::uint8_t* buffer,
                                                          std::uint32_t length) {
  return begin_non_control(buffer, length, 0, false);
}

std::unique_ptr<TransferContext> UsbEndpoint::BeginBuffered(std::uint8_t* buffer,
                                                            std::uint32_t length) {
  return begin_non_control(buffer, length, 0, true);
}

bool UsbEndpoint::WaitTransfer(TransferContext& context) {
  if (context.error == DriverError::none) return true;
  if (context.error != DriverError::pending || !context.pending) return false;
  using std::chrono::milliseconds;
  WaitResult waited = context.pending->wait(milliseconds(timeout_ms_));
  if (waited != WaitResult::timed_out) return waited == WaitResult::signalled;
  Abort();
  waited = context.pending->wait(milliseconds(kAbortGraceMs));
  if (waited == WaitResult::signalled) return true;
  Abort();
  return context.pending->wait(std::nullopt) == WaitResult::signalled;
}

bool UsbEndpoint::FinishTransfer(std::uint8_t* buffer, std::uint32_t& length,
                                 std::unique_ptr<TransferContext> context,
                                 std::span<std::uint8_t> records) {
  if (!context) {
    length = 0;
    bytes_transferred_ = 0;
    return false;
  }
  std::uint32_t reported = 0;
  const bool completed = context->pending && context->pending->result(reported);
  const auto header = decode_header(context->block);
  const std::uint32_t data_offset = header ? header->data_offset : 0;
  std::uint32_t moved = reported > data_offset ? reported - data_offset : 0;
  moved = std::min(moved, context->length);  // a driver never moves more than was asked for
  length = moved;
  bytes_transferred_ = moved;
  take_statuses(context->block);
  if (context->direction_in && context->buffered && moved > 0 && buffer != nullptr &&
      std::size_t{data_offset} + moved <= context->block.size()) {
    std::memcpy(buffer, context->block.data() + data_offset, moved);
  }
  if (!records.empty() && moved > 0 && header && header->records_length > 0) {
    std::fill(records.begin(), records.end(), std::uint8_t{0});
    const std::size_t available = context->block.size() > header->records_offset
                                      ? context->block.size() - header->records_offset
                                      : 0;
    const std::size_t count =
        std::min({records.size(), std::size_t{header->records_length}, available});
    std::memcpy(records.data(), context->block.data() + header->records_offset, count);
  }
  return completed && usb_status_ == kUsbSuccess && nt_status_ == kNtSuccess;
}

bool UsbEndpoint::Transfer(std::uint8_t* buffer, std::uint32_t& length,
                           std::span<std::uint8_t> records) {
  std::unique_ptr<TransferContext> context = BeginTransfer(buffer, length);
  if (!context) {
    length = 0;
    bytes_transferred_ = 0;
    return false;
  }
  const bool waited = WaitTransfer(*context);
  const bool finished = FinishTransfer(buffer, length, std::move(context), records);
  return waited && finished;
}

bool UsbEndpoint::Abort() {
  if (!link_ || !link_->valid()) return true;
  std::vector<std::uint8_t> block{address_};
  Submission submission =
      link_->driver->submit(link_->handle, kRequestAbortPipe, block, std::span<std::uint8_t>());
  if (submission.error == DriverError::pending && submission.pending) {
    submission.pending->wait(std::nullopt);
  }
  return true;
}

bool UsbEndpoint::ResetPipe() {
  if (!link_ || !link_->valid()) return false;
  std::uint8_t address = address_;
  std::uint32_t returned = 0;
  DriverError error = DriverError::none;
  const bool ok = link_->driver->request(link_->handle, kRequestResetPipe,
                                         std::span<std::uint8_t>(&address, 1), returned, error);
  if (!ok) last_error_ = error;
  return ok;
}

UsbControlEndpoint::UsbControlEndpoint(std::shared_ptr<DriverLink> link)
    : UsbEndpoint(std::move(link)) {
  direct_mode_ = false;
}

UsbControlEndpoint::UsbControlEndpoint(std::shared_ptr<DriverLink> link,
                                       const EndpointDescriptor& descriptor)
    : UsbEndpoint(std::move(link), descriptor, nullptr) {
  direct_mode_ = false;
}

void UsbControlEndpoint::set_descriptor(const EndpointDescriptor& descriptor) {
  descriptor_length_ = descriptor.length;
  descriptor_type_ = descriptor.type;
  address_ = descriptor.address;
  attributes_ = descriptor.attributes;
  max_packet_size_ = descriptor.max_packet_size;
  interval_ = descriptor.interval;
}

std::unique_ptr<TransferContext> UsbControlEndpoint::BeginTransfer(std::uint8_t* buffer,
                                                                   std::uint32_t length) {
  if (!link_ || !link_->valid()) return nullptr;
  if (length > kMaxControlLength || (length > 0 && buffer == nullptr)) return nullptr;
  TransferHeader header;
  header.request_type =
      static_cast<std::uint8_t>(Direction * 128 + (RequestType & 3) * 32 + (Recipient & 31));
  header.request = Request;
  header.value = Value;
  header.index = Index;
  header.length = static_cast<std::uint16_t>(length);
  header.timeout_s = header_timeout_seconds(timeout_ms_);
  header.endpoint = 0;
  header.data_offset = static_cast<std::uint32_t>(kTransferHeaderSize);
  header.data_length = length;
  std::vector<std::uint8_t> block(kTransferHeaderSize + length);
  encode_header(header, block);
  if (length > 0) std::memcpy(block.data() + kTransferHeaderSize, buffer, length);
  direction_in_ = Direction != kDirectionOut;
  return submit(kRequestControlTransfer, std::move(block), {}, true, length);
}

bool UsbControlEndpoint::Read(std::uint8_t* buffer, std::uint32_t& length) {
  Direction = kDirectionIn;
  return Transfer(buffer, length);
}

bool UsbControlEndpoint::Write(std::uint8_t* buffer, std::uint32_t& length) {
  Direction = kDirectionOut;
  return Transfer(buffer, length);
}

std::uint32_t UsbIsocEndpoint::packet_count(std::uint32_t length) const {
  if (max_packet_size_ == 0) return 0;
  return static_cast<std::uint32_t>((std::uint64_t{length} + max_packet_size_ - 1) /
                                    max_packet_size_);
}

std::unique_ptr<TransferContext> UsbIsocEndpoint::BeginDirect(std::uint8_t* buffer,
                                                              std::uint32_t length) {
  const std::uint32_t count = packet_count(length);
  if (count == 0) return nullptr;
  return begin_non_control(buffer, length, count, false);
}

std::unique_ptr<TransferContext> UsbIsocEndpoint::BeginBuffered(std::uint8_t* buffer,
                                                                std::uint32_t length) {
  const std::uint32_t count = packet_count(length);
  if (count == 0) return nullptr;
  return begin_non_control(buffer, length, count, true);
}

std::unique_ptr<TransferContext> UsbIsocEndpoint::BeginTransfer(std::uint8_t* buffer,
                                                                std::uint32_t length) {
  return direct_mode_ ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<TransferContext> UsbBulkEndpoint::BeginTransfer(std::uint8_t* buffer,
                                                                std::uint32_t length) {
  return direct_mode_ ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<TransferContext> UsbInterruptEndpoint::BeginTransfer(std::uint8_t* buffer,
                                                                     std::uint32_t length) {
  return direct_mode_ ? BeginDirect(buffer, length) : BeginBuffered(buffer, length);
}

std::unique_ptr<UsbEndpoint> make_endpoint(std::shared_ptr<DriverLink> link,
                                           const EndpointDescriptor& descriptor,
                                           const CompanionDescriptor* companion) {
  switch (static_cast<TransferType>(descriptor.attributes & 0x03)) {
    case TransferType::control:
      return std::make_unique<UsbControlEndpoint>(std::move(link), descriptor);
    case TransferType::isochronous:
      return std::make_unique<UsbIsocEndpoint>(std::move(link), descriptor, companion);
    case TransferType::bulk:
      return std::make_unique<UsbBulkEndpoint>(std::move(link), descriptor, companion);
    case TransferType::interrupt:
      return std::make_unique<UsbInterruptEndpoint>(std::move(link), descriptor, companion);
  }
  return nullptr;
}

}  // namespace zr::usb
