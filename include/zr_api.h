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

/* ---- Channel control, waveform download and streaming ----------------------------------- */

/* A channel call takes a pointer to the first of an array of channel handles; the first handle's
 * device selects the instrument. Where a call takes a count, -1 means every channel of the
 * instrument, and the call then renumbers the caller's handles 0..n-1. Reconfiguring calls stop
 * all channels first when the channel is running. Queries answer from the library's record of what
 * was sent and never talk to the instrument. */

enum {
  ZR_TRANSFER_CANCELLED = 10,   /* the bus cancelled a sample transfer frame; the rest was not sent */
  ZR_WAVEFORM_MEMORY_FULL = 98, /* the samples do not fit in the waveform memory; no sample sent */
  ZR_TRANSFER_TOO_SHORT = 98,   /* fewer than 2 samples: nothing at all was sent */
  ZR_PLAYBACK_TOO_LONG = 98,    /* more than ZR_MAX_PLAYBACK_ENTRIES entries: nothing was sent */
  ZR_MISSING_BUFFER = 98        /* a value, sample or result pointer the call needs is null */
};

enum {
  ZR_PLAYBACK_PAGE_ENTRIES = 10, /* playback entries per frame */
  ZR_MAX_PLAYBACK_ENTRIES = 2550 /* 255 pages: the page fields are single bytes */
};

#pragma pack(push, 1)
/* Trigger output of one channel; the same 3 bytes as on the wire. */
typedef struct TriggerOutput {
  int16_t trigger_out_value;
  uint8_t trigger_out_flag;
} TriggerOutput;
#pragma pack(pop)

ZR_STATIC_ASSERT(sizeof(TriggerOutput) == 3, "TriggerOutput is 3 bytes, packed");
ZR_STATIC_ASSERT(offsetof(TriggerOutput, trigger_out_value) == 0, "trigger_out_value at 0");
ZR_STATIC_ASSERT(offsetof(TriggerOutput, trigger_out_flag) == 2, "trigger_out_flag at 2");

/* Trigger configuration of one channel. */
typedef struct TriggerConfig {
  uint8_t trigger_select; /* 0..2; larger values are sent as 2 */
  uint8_t trigger_flag1;  /* 0..1; larger values are sent as 1 */
  uint8_t trigger_flag2;  /* 0..1; larger values are sent as 1 */
  uint8_t trigger_spare;  /* passed through */
  int32_t trigger_count;  /* -1 or more; smaller values are sent as -1 */
} TriggerConfig;

ZR_STATIC_ASSERT(sizeof(TriggerConfig) == 8, "TriggerConfig is 8 bytes");
ZR_STATIC_ASSERT(offsetof(TriggerConfig, trigger_select) == 0, "trigger_select at 0");
ZR_STATIC_ASSERT(offsetof(TriggerConfig, trigger_flag1) == 1, "trigger_flag1 at 1");
ZR_STATIC_ASSERT(offsetof(TriggerConfig, trigger_flag2) == 2, "trigger_flag2 at 2");
ZR_STATIC_ASSERT(offsetof(TriggerConfig, trigger_spare) == 3, "trigger_spare at 3");
ZR_STATIC_ASSERT(offsetof(TriggerConfig, trigger_count) == 4, "trigger_count at 4");

/* Starts the first handle's channel. */
ZR_API int32_t channel_start(ChannelHandle* channels);
/* Stops every channel of the instrument and resets its stream path. */
ZR_API int32_t channel_stop(ChannelHandle* channels);
/* Triggers the first handle's channel over the bus. */
ZR_API int32_t channel_trigger_bus(ChannelHandle* channels);
/* Presets the channel and leaves it in continuous wave with both output switches off. */
ZR_API int32_t channel_preset(ChannelHandle* channels);
ZR_API int32_t channel_config_lo_mode(ChannelHandle* channels, uint8_t mode);
/* One data-block value per listed channel. */
ZR_API int32_t channel_config_data_block(ChannelHandle* channels, const uint8_t* values,
                                         int16_t count);
ZR_API int32_t channel_config_trigger_out(ChannelHandle* channels,
                                          const TriggerOutput* trigger_out);
/* One port value per listed channel. */
ZR_API int32_t channel_config_port(ChannelHandle* channels, const int16_t* values, int16_t count);
/* Sends a clamped copy of *trigger; the caller's record is not changed. */
ZR_API int32_t channel_config_trigger(ChannelHandle* channels, const TriggerConfig* trigger);
/* Switches the first handle's channel to continuous-wave transmission. */
ZR_API int32_t tx_config_cw(ChannelHandle* channels);
ZR_API int32_t tx_config_output(ChannelHandle* channels, uint8_t output_enable,
                                uint8_t modulation_enable);

/* Queries of what was last sent. The count-taking ones fill one value per channel, 1..n channels
 * (0 copies nothing; a negative count is refused with ZR_INVALID_CHANNEL). */
ZR_API int32_t channel_query_lo_mode(ChannelHandle* channels, uint8_t* mode);
ZR_API int32_t channel_query_data_block(ChannelHandle* channels, uint8_t* values, int16_t count);
ZR_API int32_t channel_query_trigger_out(ChannelHandle* channels, TriggerOutput* trigger_out);
ZR_API int32_t channel_query_port(ChannelHandle* channels, int16_t* values, int16_t count);
ZR_API int32_t channel_query_trigger(ChannelHandle* channels, TriggerConfig* trigger);
ZR_API int32_t tx_query_output(ChannelHandle* channels, uint8_t* output_enable,
                               uint8_t* modulation_enable);

/* Samples are pairs of int16 values (4 bytes each), sent unchanged; a transfer carries whole
 * 8-byte units, so an odd last sample is dropped. Sample counts are pointer-width. */

/* Empties the instrument's waveform memory. */
ZR_API int32_t tx_clear_waveform(DeviceContext** device);
/* Stores count samples as a new segment after the ones already stored; *segment receives its
 * number. ZR_WAVEFORM_MEMORY_FULL when it would reach the end of the memory. */
ZR_API int32_t tx_download_waveform(DeviceContext** device, const int16_t* samples, size_t count,
                                    uint16_t* segment);
/* Streams count samples; they take memory after the stored segments and start again at address
 * 0 when they would reach the end of it. */
ZR_API int32_t tx_send_stream(ChannelHandle* channels, const int16_t* samples, size_t count);
/* Puts the first handle's channel into streaming with the given rate value. */
ZR_API int32_t tx_config_stream(ChannelHandle* channels, double rate);
/* Sends the playback list: entry i plays segments[i] repeats[i] times with values[i]. */
ZR_API int32_t tx_config_playback(ChannelHandle* channels, const uint16_t* segments,
                                  const uint32_t* repeats, const double* values, int16_t count);

/* ---- Device open, identification and close ----------------------------------------------- */

/* Identity and firmware versions of an opened instrument, filled by every open. */
typedef struct DeviceInfo {
  uint16_t model;
  uint64_t uid_low;
  uint32_t uid_high;
  uint16_t info_word;
  uint32_t mcu_version;
  uint32_t fpga_version;
  uint32_t aux1;
  uint32_t aux2;
  uint32_t bus_version;    /* the bus controller's firmware version */
  uint32_t aux3;
  uint32_t link_bandwidth; /* MB/s; not set by device_open_usb_updater */
} DeviceInfo;

ZR_STATIC_ASSERT(sizeof(DeviceInfo) == 56, "DeviceInfo is 56 bytes");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, model) == 0, "model at 0");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, uid_low) == 8, "uid_low at 8");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, uid_high) == 16, "uid_high at 16");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, info_word) == 20, "info_word at 20");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, mcu_version) == 24, "mcu_version at 24");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, fpga_version) == 28, "fpga_version at 28");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, aux1) == 32, "aux1 at 32");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, aux2) == 36, "aux2 at 36");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, bus_version) == 40, "bus_version at 40");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, aux3) == 44, "aux3 at 44");
ZR_STATIC_ASSERT(offsetof(DeviceInfo, link_bandwidth) == 48, "link_bandwidth at 48");

enum {
  ZR_ETH_PROTOCOL_TCP = 1 /* the only EthParams protocol with a bus; any other value gives -1 */
};

/* Ethernet address of an instrument, passed by value (24 bytes). */
typedef struct EthParams {
  uint8_t protocol;       /* ZR_ETH_PROTOCOL_TCP */
  uint8_t address_family; /* as in ConnectionParams */
  uint8_t address[16];    /* only address[0..3], an IPv4 address, is taken over */
  uint16_t port;
  uint32_t timeout_ms;
} EthParams;

ZR_STATIC_ASSERT(sizeof(EthParams) == 24, "EthParams is 24 bytes");
ZR_STATIC_ASSERT(offsetof(EthParams, protocol) == 0, "protocol at 0");
ZR_STATIC_ASSERT(offsetof(EthParams, address_family) == 1, "address_family at 1");
ZR_STATIC_ASSERT(offsetof(EthParams, address) == 2, "address at 2");
ZR_STATIC_ASSERT(offsetof(EthParams, port) == 18, "port at 18");
ZR_STATIC_ASSERT(offsetof(EthParams, timeout_ms) == 20, "timeout_ms at 20");

/* The opens store a new context into *device and report one channel: channels[0] (when not
 * null) receives {device, 0}. Out-parameters may be null and are then not written. A failed
 * open destroys the context and sets *device to null, except that device_open_usb and
 * device_open_eth keep it open after -29, -43 or a -8 of the ready wait or the table read. */

/* Opens USB instrument device_number, identifies and presets it, selects normal mode, waits up
 * to 5 s for its calibrations and reads its stored level tables. 0, -1, -8, -29, -43 or the
 * preset's status. */
ZR_API int32_t device_open_usb(DeviceContext** device, uint8_t device_number,
                               ChannelHandle* channels, int16_t* channel_count, DeviceInfo* info);
/* As device_open_usb over TCP, without the table read. */
ZR_API int32_t device_open_eth(DeviceContext** device, EthParams params, ChannelHandle* channels,
                               int16_t* channel_count, DeviceInfo* info);
/* Opens, identifies and presets a USB instrument, nothing more; *api_version receives
 * ZR_INTERFACE_VERSION. A failed preset leaves the context open and returns its status. */
ZR_API int32_t device_open_usb_updater(DeviceContext** device, uint8_t device_number,
                                       ChannelHandle* channels, int16_t* channel_count,
                                       DeviceInfo* info, uint32_t* api_version);
/* use_parameters 1: opens with *connection. Otherwise USB device_number, and when that fails
 * TCP to 192.168.1.100:5000 (10 s time-out). *interface_used receives the interface opened.
 * Identifies and presets; no mode, ready wait or table read. */
ZR_API int32_t device_open_merge(DeviceContext** device, uint8_t device_number,
                                 uint8_t use_parameters, const ConnectionParams* connection,
                                 ChannelHandle* channels, int16_t* channel_count,
                                 DeviceInfo* info, uint32_t* api_version,
                                 uint8_t* interface_used);
/* device_open_merge with a channel-handle array of its own; close the context afterwards. */
ZR_API int32_t device_open_query(DeviceContext** device, uint8_t device_number,
                                 uint8_t use_parameters, const ConnectionParams* connection,
                                 DeviceInfo* info, uint32_t* api_version, uint8_t* interface_used);
/* Sends the close frame and destroys the context (also when the frame failed); *device becomes
 * null. Returns the frame's status. */
ZR_API int32_t device_close(DeviceContext** device);
/* Presets the mirror and every channel and empties the waveform memory. */
ZR_API int32_t device_preset(DeviceContext** device);
/* Selects the operating mode: 0 normal, 1 transmit calibration, 3 IQ calibration. */
ZR_API int32_t device_config_calmode(DeviceContext** device, uint16_t mode);
/* Returns ZR_INTERFACE_VERSION. */
ZR_API uint32_t device_query_apiverion(void);
/* Open a private connection, send the power-source notice, wait 2 s and close. 0 or -1. */
ZR_API int32_t device_powered_by_usb(uint8_t device_number);
ZR_API int32_t device_powered_by_eth(EthParams params);

/* ---- Device-level configuration and queries ---------------------------------------------- */

/* GNSS receiver configuration, sent unchanged (12 bytes). */
typedef struct GnssConfig {
  uint8_t flag_a;
  uint8_t flag_b;
  uint8_t reserved[2];
  float period;
  float rate;
} GnssConfig;

ZR_STATIC_ASSERT(sizeof(GnssConfig) == 12, "GnssConfig is 12 bytes");
ZR_STATIC_ASSERT(offsetof(GnssConfig, flag_a) == 0, "flag_a at 0");
ZR_STATIC_ASSERT(offsetof(GnssConfig, flag_b) == 1, "flag_b at 1");
ZR_STATIC_ASSERT(offsetof(GnssConfig, period) == 4, "period at 4");
ZR_STATIC_ASSERT(offsetof(GnssConfig, rate) == 8, "rate at 8");

/* GNSS state: state from the receiver, the rest as last configured (12 bytes). */
typedef struct GnssStatus {
  uint8_t state;  /* the receiver's fix field */
  uint8_t flag_b;
  uint8_t reserved[2];
  float period;   /* as corrected when configured */
  float rate;
} GnssStatus;

ZR_STATIC_ASSERT(sizeof(GnssStatus) == 12, "GnssStatus is 12 bytes");
ZR_STATIC_ASSERT(offsetof(GnssStatus, state) == 0, "state at 0");
ZR_STATIC_ASSERT(offsetof(GnssStatus, flag_b) == 1, "flag_b at 1");
ZR_STATIC_ASSERT(offsetof(GnssStatus, period) == 4, "period at 4");
ZR_STATIC_ASSERT(offsetof(GnssStatus, rate) == 8, "rate at 8");

/* What the GNSS receiver reports (32 bytes). */
typedef struct GnssInfo {
  uint8_t fix;
  uint8_t b1;
  uint8_t b2;
  uint8_t b3;
  uint8_t b4;
  uint8_t reserved0[3];
  float value1;
  float value2;
  float value3;
  uint8_t reserved1[4];
  uint64_t epoch_ns; /* time of the last pulse, nanoseconds since 1970-01-01 UTC */
} GnssInfo;

ZR_STATIC_ASSERT(sizeof(GnssInfo) == 32, "GnssInfo is 32 bytes");
ZR_STATIC_ASSERT(offsetof(GnssInfo, fix) == 0, "fix at 0");
ZR_STATIC_ASSERT(offsetof(GnssInfo, b4) == 4, "b4 at 4");
ZR_STATIC_ASSERT(offsetof(GnssInfo, value1) == 8, "value1 at 8");
ZR_STATIC_ASSERT(offsetof(GnssInfo, value2) == 12, "value2 at 12");
ZR_STATIC_ASSERT(offsetof(GnssInfo, value3) == 16, "value3 at 16");
ZR_STATIC_ASSERT(offsetof(GnssInfo, epoch_ns) == 24, "epoch_ns at 24");

/* Queries ask the instrument; on failure (-8) their outputs are not written. Null outputs are
 * skipped. */

/* Fan mode (at most 2) and temperature set point (limited to -40..160; NaN gives 160). */
ZR_API int32_t device_config_fan(DeviceContext** device, uint8_t mode, float set_point);
ZR_API int32_t device_config_clock(DeviceContext** device, uint8_t source, double frequency,
                                   uint8_t output);
ZR_API int32_t device_config_gnss(DeviceContext** device, GnssConfig config);
/* The reference clock; the frequency is corrected by the clock monitor's deviation, and
 * *monitor_valid is 1 when the monitor reported one. A failed monitor query leaves the frequency
 * uncorrected and *monitor_valid 0. */
ZR_API int32_t device_query_clock(DeviceContext** device, uint8_t* source, double* frequency,
                                  uint8_t* output, uint8_t* monitor_valid);
ZR_API int32_t device_reset_clock_monitor(DeviceContext** device);
/* Deviation of the reference clock in parts per million; 0.0 while the monitor has no complete
 * measurement (or fewer than two edges). */
ZR_API int32_t device_query_clock_monitor(DeviceContext** device, double* deviation);
/* The 16 bytes of the supply report, unchanged. */
ZR_API int32_t device_query_supply(DeviceContext** device, uint8_t supply[16]);
/* Degrees Celsius. */
ZR_API int32_t device_query_temperature(DeviceContext** device, float* temperature);
/* A liveness check: 0 when the instrument answers. */
ZR_API int32_t device_query_state(DeviceContext** device);
/* flag_b, period and rate are written from the last configuration before the query. */
ZR_API int32_t device_query_gnss(DeviceContext** device, GnssStatus* status);
ZR_API int32_t device_query_gnss_info(DeviceContext** device, GnssInfo* info);
/* Splits a time stamp (nanoseconds since 1970-01-01 UTC) into UTC calendar fields. */
ZR_API void device_epoch_to_utc(uint64_t stamp_ns, uint16_t* year, uint16_t* month, uint16_t* day,
                                uint16_t* hour, uint16_t* minute, uint16_t* second,
                                uint16_t* millisecond, uint16_t* microsecond,
                                uint16_t* nanosecond);

/* ---- Firmware update ------------------------------------------------------------------- */

/* Each update call opens a connection of its own from *connection and device_number, runs the
 * update with progress on standard output and closes the connection before it returns. Over
 * Ethernet the device number is ignored (0 is used). ZR_NO_BUS when the connection cannot be
 * opened, ZR_INVALID_HANDLE when connection is null. */

enum {
  ZR_FW_IMAGE_UNREADABLE = -20, /* the image file cannot be opened or read, or does not fit its
                                   target (a raw FPGA image over 3932160 bytes, an MCU file
                                   shorter than its skip); nothing was sent */
  ZR_FW_NOT_STARTED = -21,      /* FPGA: the start was not written or not acknowledged; MCU: the
                                   begin was not acknowledged, or the time-out after the erase
                                   could not be set */
  ZR_FW_ERASE_FAILED = -22,     /* FPGA: the flash erase did not complete */
  ZR_FW_FINISH_FAILED = -24     /* FPGA: the finish was not written; MCU: not acknowledged */
};

/* Writes an FPGA image into the configuration flash: a raw image when path contains ".rpd"
 * (filled up with 0xFF), otherwise the image inside a configuration container. 0, -1, -2, -20,
 * -21, -22, -24, or ZR_TRANSPORT_FAILED when an image packet could not be written. */
ZR_API int32_t device_update_fpga_firmware(const char* path, uint8_t device_number,
                                           const ConnectionParams* connection);
/* Writes an MCU application image (the file minus its first 16384 bytes). Over Ethernet the
 * reply time-out is raised to at least 25000 ms. 0, -1, -2, -20, -21, -24 or -8. */
ZR_API int32_t device_update_rootmcu_firmware(const char* path, uint8_t device_number,
                                              const ConnectionParams* connection);
/* As the root MCU update; the skip is 16384 bytes below MCU version 1.0.5, else 32768. -8 also
 * when the instrument's version cannot be queried (nothing sent then). */
ZR_API int32_t device_update_nodemcu_firmware(const char* path, uint8_t device_number,
                                              const ConnectionParams* connection);
/* Installs a bus controller firmware image while a 40-second progress line runs; returns when
 * both are done. The bus's status, or -1, -2, -20. */
ZR_API int32_t device_update_bus_firmware(const char* path, uint8_t device_number,
                                          const ConnectionParams* connection);

/* ---- Versions ---------------------------------------------------------------------------- */

/* Version words: major in bits 16 and up, minor in bits 8..15, patch in bits 0..7. */
#define ZR_INTERFACE_VERSION 0x00020012u

/* ---- Modulation -------------------------------------------------------------------------- */

/* Statuses of the modulation calls. -608 .. -603 are permanent: once the binding has recorded
 * one, every modulation call on that device returns it at once, for the life of the context. */
enum {
  ZR_MOD_CREATE_FAILED = -603,   /* the waveform library failed to create its generator (-1) */
  ZR_MOD_CREATE_REFUSED = -604,  /* the waveform library refused the generator object (-2) */
  ZR_MOD_RELEASE_FAILED = -605,  /* releasing the generator failed (-1); the library stays loaded */
  ZR_MOD_DIGITAL_FAILED = -606,  /* digital modulation generation returned -1 */
  ZR_MOD_DIGITAL_REFUSED = -607, /* digital modulation generation returned -2 */
  ZR_MOD_NO_LIBRARY = -608,      /* libgenSignalWave.so is missing, cannot be loaded, is not
                                    bound, or lacks the entry point of the call */
  ZR_MOD_OVER_BUDGET = -609,     /* the waveform would exceed 10,000,000 samples; the previously
                                    generated parameters were generated instead */
  ZR_MOD_NULL_ARGUMENT = -610,   /* a parameter record pointer is null; nothing done */
  ZR_MOD_PERMANENT_FIRST = -608, /* the range of permanent binding failures */
  ZR_MOD_PERMANENT_LAST = -603
};

/* Kinds of modulated signal; a config call makes its kind the current one. */
enum {
  ZR_MOD_KIND_NONE = 0,
  ZR_MOD_KIND_DIGITAL = 1,
  ZR_MOD_KIND_AM = 2,
  ZR_MOD_KIND_FM = 3,
  ZR_MOD_KIND_DSSS = 4,
  ZR_MOD_KIND_PULSE = 5,
  ZR_MOD_KIND_MULTITONE = 6,
  ZR_MOD_KIND_STEPSWEEP = 7,
  ZR_MOD_KIND_RAMPSWEEP = 8,
  ZR_MOD_KIND_OFDM = 9,
  ZR_MOD_KIND_AWGN = 10
};

/* Parameter records (frequencies and rates in Hz, times in seconds). The codes and options are
 * the waveform library's; waveform/gen_signal_wave.h documents those of ours. */
typedef struct DigitalModParams {
  uint8_t modulation;   /* modulation code; 15..18 carry a frequency deviation */
  double symbol_rate;
  double deviation;
  int32_t option_a;     /* 4..24 */
  int32_t option_b;     /* at least 1 */
  uint8_t filter_type;
  int32_t filter_span;  /* symbols, even */
  int32_t oversampling; /* samples per symbol, even, 2..32 */
  double filter_factor;
} DigitalModParams;

ZR_STATIC_ASSERT(sizeof(DigitalModParams) == 56, "DigitalModParams is 56 bytes");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, modulation) == 0, "modulation at 0");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, symbol_rate) == 8, "symbol_rate at 8");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, deviation) == 16, "deviation at 16");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, option_a) == 24, "option_a at 24");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, option_b) == 28, "option_b at 28");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, filter_type) == 32, "filter_type at 32");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, filter_span) == 36, "filter_span at 36");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, oversampling) == 40, "oversampling at 40");
ZR_STATIC_ASSERT(offsetof(DigitalModParams, filter_factor) == 48, "filter_factor at 48");

typedef struct AmParams {
  double mod_frequency; /* 1..1e7 */
  double depth;         /* percent, 1..100 */
  uint8_t am_option;
} AmParams;

ZR_STATIC_ASSERT(sizeof(AmParams) == 24, "AmParams is 24 bytes");
ZR_STATIC_ASSERT(offsetof(AmParams, mod_frequency) == 0, "mod_frequency at 0");
ZR_STATIC_ASSERT(offsetof(AmParams, depth) == 8, "depth at 8");
ZR_STATIC_ASSERT(offsetof(AmParams, am_option) == 16, "am_option at 16");

typedef struct FmParams {
  double mod_frequency; /* 1..1e7 */
  double deviation;     /* peak, 1..1e7 */
  uint8_t fm_option;
} FmParams;

ZR_STATIC_ASSERT(sizeof(FmParams) == 24, "FmParams is 24 bytes");
ZR_STATIC_ASSERT(offsetof(FmParams, mod_frequency) == 0, "mod_frequency at 0");
ZR_STATIC_ASSERT(offsetof(FmParams, deviation) == 8, "deviation at 8");
ZR_STATIC_ASSERT(offsetof(FmParams, fm_option) == 16, "fm_option at 16");

typedef struct DsssParams {
  double symbol_rate;
  uint8_t modulation;       /* modulation code of the data symbols */
  int32_t spread_order;     /* 4..16: spreading length 2^spread_order - 1 chips */
  int32_t filter_span;      /* chips, even */
  int32_t samples_per_chip; /* even, 4..32 */
  double filter_factor;
  int32_t option_b;         /* 1..1000 */
  uint8_t filter_type;
} DsssParams;

ZR_STATIC_ASSERT(sizeof(DsssParams) == 40, "DsssParams is 40 bytes");
ZR_STATIC_ASSERT(offsetof(DsssParams, symbol_rate) == 0, "symbol_rate at 0");
ZR_STATIC_ASSERT(offsetof(DsssParams, modulation) == 8, "modulation at 8");
ZR_STATIC_ASSERT(offsetof(DsssParams, spread_order) == 12, "spread_order at 12");
ZR_STATIC_ASSERT(offsetof(DsssParams, filter_span) == 16, "filter_span at 16");
ZR_STATIC_ASSERT(offsetof(DsssParams, samples_per_chip) == 20, "samples_per_chip at 20");
ZR_STATIC_ASSERT(offsetof(DsssParams, filter_factor) == 24, "filter_factor at 24");
ZR_STATIC_ASSERT(offsetof(DsssParams, option_b) == 32, "option_b at 32");
ZR_STATIC_ASSERT(offsetof(DsssParams, filter_type) == 36, "filter_type at 36");

typedef struct PulseParams {
  double width;  /* 8e-9 .. period */
  double period; /* 1.6e-8 .. 1 */
} PulseParams;

ZR_STATIC_ASSERT(sizeof(PulseParams) == 16, "PulseParams is 16 bytes");
ZR_STATIC_ASSERT(offsetof(PulseParams, width) == 0, "width at 0");
ZR_STATIC_ASSERT(offsetof(PulseParams, period) == 8, "period at 8");

typedef struct MultitoneParams {
  double phase;   /* radians, 0..2 pi */
  int32_t tones;  /* 1..1000 */
  double spacing; /* at least 1000, at most 15625000 / (tones - 1) */
} MultitoneParams;

ZR_STATIC_ASSERT(sizeof(MultitoneParams) == 24, "MultitoneParams is 24 bytes");
ZR_STATIC_ASSERT(offsetof(MultitoneParams, phase) == 0, "phase at 0");
ZR_STATIC_ASSERT(offsetof(MultitoneParams, tones) == 8, "tones at 8");
ZR_STATIC_ASSERT(offsetof(MultitoneParams, spacing) == 16, "spacing at 16");

typedef struct StepSweepParams {
  double center;
  double span;    /* 1000..15625000 */
  int32_t points; /* 2 .. span / 1000 + 1 */
  double dwell;   /* per point, 1e-6..0.01 */
} StepSweepParams;

ZR_STATIC_ASSERT(sizeof(StepSweepParams) == 32, "StepSweepParams is 32 bytes");
ZR_STATIC_ASSERT(offsetof(StepSweepParams, center) == 0, "center at 0");
ZR_STATIC_ASSERT(offsetof(StepSweepParams, span) == 8, "span at 8");
ZR_STATIC_ASSERT(offsetof(StepSweepParams, points) == 16, "points at 16");
ZR_STATIC_ASSERT(offsetof(StepSweepParams, dwell) == 24, "dwell at 24");

typedef struct RampSweepParams {
  double span;       /* 1..1e8 */
  double sub_time;   /* 1e-6 .. sweep_time */
  double sweep_time; /* 1e-6..1 */
} RampSweepParams;

ZR_STATIC_ASSERT(sizeof(RampSweepParams) == 24, "RampSweepParams is 24 bytes");
ZR_STATIC_ASSERT(offsetof(RampSweepParams, span) == 0, "span at 0");
ZR_STATIC_ASSERT(offsetof(RampSweepParams, sub_time) == 8, "sub_time at 8");
ZR_STATIC_ASSERT(offsetof(RampSweepParams, sweep_time) == 16, "sweep_time at 16");

typedef struct OfdmParams {
  double ofdm_value;  /* not written by mod_init_ofdm */
  int32_t size;       /* subcarriers, a power of two 16..2048 */
  int32_t symbols;    /* 2..16384 */
  int32_t edge_low;
  int32_t edge_high;
  int32_t percent_a;  /* 0..100 */
  int32_t percent_b;  /* 0..100 */
  uint8_t flag_a;
  uint8_t option;
  uint8_t flag_b;
  double sample_rate; /* 195312.5..1.25e8 */
} OfdmParams;

ZR_STATIC_ASSERT(sizeof(OfdmParams) == 48, "OfdmParams is 48 bytes");
ZR_STATIC_ASSERT(offsetof(OfdmParams, ofdm_value) == 0, "ofdm_value at 0");
ZR_STATIC_ASSERT(offsetof(OfdmParams, size) == 8, "size at 8");
ZR_STATIC_ASSERT(offsetof(OfdmParams, symbols) == 12, "symbols at 12");
ZR_STATIC_ASSERT(offsetof(OfdmParams, edge_low) == 16, "edge_low at 16");
ZR_STATIC_ASSERT(offsetof(OfdmParams, edge_high) == 20, "edge_high at 20");
ZR_STATIC_ASSERT(offsetof(OfdmParams, percent_a) == 24, "percent_a at 24");
ZR_STATIC_ASSERT(offsetof(OfdmParams, percent_b) == 28, "percent_b at 28");
ZR_STATIC_ASSERT(offsetof(OfdmParams, flag_a) == 32, "flag_a at 32");
ZR_STATIC_ASSERT(offsetof(OfdmParams, option) == 33, "option at 33");
ZR_STATIC_ASSERT(offsetof(OfdmParams, flag_b) == 34, "flag_b at 34");
ZR_STATIC_ASSERT(offsetof(OfdmParams, sample_rate) == 40, "sample_rate at 40");

typedef struct AwgnParams {
  double bandwidth; /* 50000..1e8 */
  double duration;  /* at least 1e-4 */
} AwgnParams;

ZR_STATIC_ASSERT(sizeof(AwgnParams) == 16, "AwgnParams is 16 bytes");
ZR_STATIC_ASSERT(offsetof(AwgnParams, bandwidth) == 0, "bandwidth at 0");
ZR_STATIC_ASSERT(offsetof(AwgnParams, duration) == 8, "duration at 8");

/* Loads libgenSignalWave.so from beside libzr_api.so and creates its generator object from the
 * instrument's identity (query 0x89). version goes unchanged to the library's GetALGVersion.
 * 0, -8, or a ZR_MOD_ status. */
ZR_API int32_t mod_open(DeviceContext** device, void* version);
/* Releases the generator object and unloads the library. 0, ZR_MOD_RELEASE_FAILED (library
 * kept), ZR_MOD_NO_LIBRARY when nothing is bound, or the permanent failure. */
ZR_API int32_t mod_close(DeviceContext** device);

/* The init calls write the kind's defaults into *params and, unless the binding has failed for
 * good, make them the kind's last generated set. They return nothing. */
ZR_API void mod_init_digitalmod(DeviceContext** device, DigitalModParams* params);
ZR_API void mod_init_am(DeviceContext** device, AmParams* params);
ZR_API void mod_init_fm(DeviceContext** device, FmParams* params);
ZR_API void mod_init_dsss(DeviceContext** device, DsssParams* params);
ZR_API void mod_init_pulse(DeviceContext** device, PulseParams* params);
ZR_API void mod_init_multitone(DeviceContext** device, MultitoneParams* params);
ZR_API void mod_init_stepsweep(DeviceContext** device, StepSweepParams* params);
ZR_API void mod_init_rampsweep(DeviceContext** device, RampSweepParams* params);
ZR_API void mod_init_ofdm(DeviceContext** device, OfdmParams* params);
ZR_API void mod_init_awgn(DeviceContext** device, AwgnParams* params);

/* The config calls copy *in to *out, correct out-of-range values in *out, store it as the
 * kind's pending set and make the kind current. 0 or the permanent failure (*out untouched). */
ZR_API int32_t mod_config_digitalmod(DeviceContext** device, const DigitalModParams* in,
                                     DigitalModParams* out);
ZR_API int32_t mod_config_am(DeviceContext** device, const AmParams* in, AmParams* out);
ZR_API int32_t mod_config_fm(DeviceContext** device, const FmParams* in, FmParams* out);
ZR_API int32_t mod_config_dsss(DeviceContext** device, const DsssParams* in, DsssParams* out);
ZR_API int32_t mod_config_pulse(DeviceContext** device, const PulseParams* in, PulseParams* out);
ZR_API int32_t mod_config_multitone(DeviceContext** device, const MultitoneParams* in,
                                    MultitoneParams* out);
ZR_API int32_t mod_config_stepsweep(DeviceContext** device, const StepSweepParams* in,
                                    StepSweepParams* out);
ZR_API int32_t mod_config_rampsweep(DeviceContext** device, const RampSweepParams* in,
                                    RampSweepParams* out);
ZR_API int32_t mod_config_ofdm(DeviceContext** device, const OfdmParams* in, OfdmParams* out);
ZR_API int32_t mod_config_awgn(DeviceContext** device, const AwgnParams* in, AwgnParams* out);

/* Has the waveform library synthesise the current kind. count is the symbol count of the
 * digital and spread-spectrum kinds. output and output_size go unchanged to the library; ours
 * takes an int16_t I/Q buffer and a uint64_t in/out count of I/Q pairs (gen_signal_wave.h).
 * *rate (when rate is not null) receives the sample rate the library was asked to use. The
 * library's result, ZR_MOD_OVER_BUDGET, -606/-607, ZR_MOD_NO_LIBRARY or the permanent failure;
 * with no current kind, prints "InvalidMod", writes 4e6 and returns the binding status. */
ZR_API int32_t mod_generate_stream(DeviceContext** device, int32_t count, void* output,
                                   void* output_size, double* rate);

/* ---- USB instrument list ----------------------------------------------------------------- */

/* One attached USB instrument, as device_list_usb reports it (56 bytes). The fields come from
 * the instrument's serial number "mmm_hhhhhhhhllllllllllllllll"; all three are 0 when the serial
 * is not of that form. */
typedef struct DeviceListEntry {
  uint16_t model;      /* characters 0..2 as a decimal number; 0 when they are not decimal */
  uint8_t zero0[6];
  uint64_t uid_low;    /* characters 12..27, hexadecimal */
  uint32_t uid_high;   /* characters 4..11, hexadecimal */
  uint8_t zero1[36];
} DeviceListEntry;

ZR_STATIC_ASSERT(sizeof(DeviceListEntry) == 56, "DeviceListEntry is 56 bytes");
ZR_STATIC_ASSERT(offsetof(DeviceListEntry, model) == 0, "model at 0");
ZR_STATIC_ASSERT(offsetof(DeviceListEntry, uid_low) == 8, "uid_low at 8");
ZR_STATIC_ASSERT(offsetof(DeviceListEntry, uid_high) == 16, "uid_high at 16");
ZR_STATIC_ASSERT(offsetof(DeviceListEntry, zero1) == 20, "zero1 at 20");

/* Lists the USB instruments attached, first those with their own USB IDs, then those behind the
 * bus controller. *count is in/out: on entry the number of entries the array holds, on return the
 * number of instruments attached. Entries past the array are never written, so a caller may ask
 * with *count = 0 (entries may then be NULL) and call again with an array of that size. An
 * instrument whose device release is 0 is counted but its entry is left as it was. Returns ZR_OK
 * (ZR_INTERNAL_ERROR only when memory runs out). */
ZR_API int32_t device_list_usb(DeviceListEntry* entries, uint32_t* count);

#ifdef __cplusplus
}
#endif

#endif /* ZR_API_H */
