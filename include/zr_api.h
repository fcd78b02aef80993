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

/* ---- Versions ---------------------------------------------------------------------------- */

/* Version words: major in bits 16 and up, minor in bits 8..15, patch in bits 0..7. */
#define ZR_INTERFACE_VERSION 0x00020012u

#ifdef __cplusplus
}
#endif

#endif /* ZR_API_H */
