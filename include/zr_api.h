/* The C interface of the instrument control library (libzr_api.so).
 *
 * Every call returns a 32-bit signed status unless its comment says otherwise. Records without
 * pointers keep fixed little-endian byte layouts; each is checked below with static_assert.
 * This header compiles as C11 and as C++. */
#ifndef ZR_API_H
#define ZR_API_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ZR_STATIC_ASSERT static_assert
extern "C" {
#else
#define ZR_STATIC_ASSERT _Static_assert
#endif

#if defined(__GNUC__)
#define ZR_API __attribute__((visibility("default")))
#else
#define ZR_API
#endif

/* ---- Status codes ------------------------------------------------------------------------ */

enum {
  ZR_OK = 0,

  /* Bus statuses. */
  ZR_BUS_UNSUPPORTED = -1,          /* no bus of that type, or the bus failed to open */
  ZR_BUS_USB_NO_DEVICE = -301,      /* no such USB instrument, or it cannot be used */
  ZR_BUS_USB_TRANSFER_FAILED = -302,/* a USB transfer failed or moved no data */
  ZR_BUS_USB_CANCELLED = -303,      /* a USB transfer timed out, or the device answered 0xF0 */
  ZR_BUS_USB_PIPE_RESET = -304,     /* resetting the streaming pipe failed */
  ZR_BUS_USB_BAD_FIRMWARE = -310,   /* a bus firmware image does not begin with "CY" */
  ZR_BUS_ETH_NO_REPLY = 10          /* an Ethernet reply did not arrive complete in time */
};

/* Statuses of the exported interface. A call returns the first non-zero status of its steps. */
enum {
  ZR_CLAMPED = 98,             /* a value was clamped to its limit; the command was still sent */
  ZR_INVALID_CHANNEL = 98,     /* a channel list or channel index was out of range; nothing sent */
  ZR_DEFAULT_RF_CAL = 42,      /* the default RF calibration file was used (a warning) */
  ZR_DEFAULT_IQ_CAL = 44,      /* the default IQ calibration file was used (a warning) */
  ZR_NO_BUS = -1,              /* no bus for the interface type, or the bus failed to open */
  ZR_TRANSPORT_FAILED = -8,    /* a bus transfer failed or an acknowledgement never came */
  ZR_RF_CAL_MISSING = -29,     /* no RF calibration on the instrument or in the folder */
  ZR_IQ_CAL_MISSING = -43,     /* no IQ calibration on the instrument or in the folder */
  ZR_INVALID_HANDLE = -2,      /* a null device or channel handle, or a handle with no context */
  ZR_INTERNAL_ERROR = -900     /* an unexpected failure inside the library, such as running out of
                                  memory; the call did not complete */
};

/* ---- Connection record ------------------------------------------------------------------- */

enum {
  ZR_INTERFACE_USB = 0,
  ZR_INTERFACE_ETH = 3,
  ZR_INTERFACE_PCIE = 4
};

/* Selects and configures the transport of an instrument. Sent verbatim to the instrument's
 * network service, so its layout is fixed (28 bytes, little-endian). */
typedef struct ConnectionParams {
  uint8_t interface;      /* ZR_INTERFACE_USB, _ETH or _PCIE */
  uint8_t address_family; /* 0: IPv4 in address[0..3], first octet first; otherwise IPv6 */
  uint8_t address[16];    /* IPv6: all 16 bytes in network order */
  uint16_t port;          /* TCP port, host byte order */
  uint32_t reserved;      /* carried along unchanged */
  uint32_t timeout_ms;    /* Ethernet connect and reply time-out */
} ConnectionParams;

ZR_STATIC_ASSERT(sizeof(ConnectionParams) == 28, "ConnectionParams is 28 bytes");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, interface) == 0, "interface at 0");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, address_family) == 1, "address_family at 1");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, address) == 2, "address at 2");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, port) == 18, "port at 18");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, reserved) == 20, "reserved at 20");
ZR_STATIC_ASSERT(offsetof(ConnectionParams, timeout_ms) == 24, "timeout_ms at 24");

/* ---- Handles ----------------------------------------------------------------------------- */

/* One opened instrument; its contents are private to the library. */
#ifdef __cplusplus
namespace zr {
struct DeviceContext;
}
typedef zr::DeviceContext DeviceContext;
#else
typedef struct DeviceContext DeviceContext;
#endif

/* The device handle is the address of the caller's DeviceContext pointer variable
 * (DeviceContext**); the open calls store the new context into that variable. */

/* Names one channel of an instrument. Arrays of handles have the stride sizeof(ChannelHandle). */
typedef struct ChannelHandle {
  DeviceContext** device; /* the caller's device handle */
  int16_t index;          /* channel index, 0 for the first channel */
} ChannelHandle;

ZR_STATIC_ASSERT(offsetof(ChannelHandle, device) == 0, "device at 0");
ZR_STATIC_ASSERT(offsetof(ChannelHandle, index) == sizeof(void*), "index after the pointer");
ZR_STATIC_ASSERT(sizeof(ChannelHandle) == 2 * sizeof(void*), "natural alignment, no packing");

/* ---- Versions ---------------------------------------------------------------------------- */

/* Version words: major in bits 16 and up, minor in bits 8..15, patch in bits 0..7. */
#define ZR_INTERFACE_VERSION 0x00020012u

#ifdef __cplusplus
}
#endif

#endif /* ZR_API_H */
