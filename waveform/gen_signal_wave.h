/* libgenSignalWave.so: the waveform synthesis library that the control library's mod_* calls
 * load at run time. It writes baseband signals as interleaved signed 16-bit I/Q samples, the
 * format that tx_download_waveform and tx_send_stream take.
 *
 * Every Generate* call takes a generator handle, a packed parameter record (little-endian, no
 * padding; layouts below), the sample rate in Hz, for the digital and spread-spectrum kinds the
 * symbol count, and two caller values:
 *
 *   samples      int16_t[2 * capacity]: I0, Q0, I1, Q1, ...; or NULL to ask for the length only
 *   sample_count uint64_t*: in, the capacity in I/Q pairs; out, the pairs the waveform has
 *
 * Results: GSW_OK (0), written or, with samples NULL, only the length reported;
 * GSW_INVALID (-1), an unknown generator, a null record or count, a rate that is not a finite
 * positive number up to GSW_MAX_RATE, a value the kind cannot synthesise or a waveform longer
 * than GSW_MAX_SAMPLES — nothing written; GSW_TOO_SMALL (-2), the capacity is below the length,
 * which is written to *sample_count while the buffer is left untouched.
 *
 * Scaling: each waveform is scaled so that its largest I or Q magnitude is exactly 32767; no
 * sample is clipped and -32768 never occurs. A waveform that is zero throughout stays zero.
 * Waveforms are made to loop: AM, FM, pulse and multitone are one whole period, the digital,
 * spread-spectrum and OFDM kinds are filtered cyclically, noise is periodic in its length.
 *
 * Data: the digital kinds modulate a maximal-length sequence (PRBS) of degree option_a (4..24)
 * started from the state option_b (its low option_a bits; 0 counts as 1), taken most significant
 * bit first per symbol; spread spectrum and OFDM use the degree-15 sequence started from
 * option_b or 1. The m-sequences use the primitive polynomials of the usual tables
 * (x^15 + x^14 + 1 for degree 15, x^5 + x^3 + 1 for degree 5, ...).
 *
 * Modulation codes (digital `modulation`, spread-spectrum `modulation`, OFDM `option`):
 *   0 OOK, 1 BPSK, 2 DBPSK, 3 QPSK, 4 DQPSK, 5 pi/4-DQPSK, 6 4-QAM, 7 8-PSK, 8 D8PSK, 9 16-QAM,
 *   10 16-APSK, 11 64-QAM, 12 256-QAM, 13 1024-QAM, 14 2-ASK, 19 4-ASK, 20 8-ASK, 21 16-ASK,
 *   22 8-APSK; 15..18 2-, 4-, 8- and 16-FSK (digital kind only): continuous-phase, tones evenly
 *   spaced from -deviation to +deviation, rectangular frequency pulses (the filter fields are
 *   not used). Other codes are GSW_INVALID.
 * Filter types (pulse shape of symbols or chips): 0 and 1 rectangular, 2 raised cosine, 3 root
 *   raised cosine, 4 Gaussian (filter_factor is the bandwidth-time product); filter_factor is
 *   the roll-off of types 2 and 3; filter_span is the length in symbols (chips).
 * The linear digital kinds need rate / symbol_rate to be a whole number of at least 2 (the
 * samples per symbol); spread spectrum needs rate / (symbol_rate * (2^spread_order - 1)) to be
 * a whole number of at least 2 (the samples per chip).
 *
 * Records (u32/f64/u8 little-endian, packed):
 *   Digital (48): u32 modulation, f64 symbol_rate, f64 deviation, u32 option_a, u32 option_b,
 *     u32 filter_type, u32 filter_span, u32 oversampling, f64 filter_factor.
 *     count symbols, rate / symbol_rate samples each.
 *   AM (20): f64 mod_frequency, f64 depth (percent), u32 am_option. I = 1 + depth/100 * m(t),
 *     Q = 0; one period of m. am_option: 1 sine, 2 square, 3 triangle, 4 sawtooth.
 *   FM (20): f64 mod_frequency, f64 deviation (peak, Hz), u32 fm_option (the shape of m as for
 *     AM). Instantaneous frequency deviation * m(t); one period of m.
 *   DSSS (40): f64 symbol_rate, u32 modulation, u32 spread_order, u32 filter_span,
 *     u32 samples_per_chip, f64 filter_factor, u32 option_b, u32 filter_type. Each symbol is
 *     multiplied by the whole m-sequence of degree spread_order (state 1 at the start of each
 *     symbol; chip 1 is +1, 0 is -1), then chip-shaped. count symbols.
 *   Pulse (16): f64 width, f64 period. One period: I full scale for round(width * rate)
 *     samples, then 0, of round(period * rate) samples; Q = 0.
 *   Multitone (20): f64 phase, u32 tones, f64 spacing. Equal tones `spacing` apart, centred on
 *     0 Hz (an even number of tones sits at odd multiples of spacing / 2); tone j (0 the lowest)
 *     starts at phase * j^2 radians, so that a suitable phase lowers the crest factor. One
 *     period: rate / spacing samples for an odd number of tones, 2 rate / spacing for an even.
 *   Step sweep (28): f64 start, f64 stop, u32 points, f64 dwell. points frequencies evenly from
 *     start to stop, each for dwell, relative to the carrier at (start + stop) / 2, with
 *     continuous phase; round(points * dwell * rate) samples.
 *   Ramp sweep (24): f64 span, f64 sub_time, f64 sweep_time. A linear ramp from -span/2 to
 *     +span/2 every sub_time, continuous phase, for round(sweep_time * rate) samples.
 *   OFDM (38): f64 ofdm_value (not used), u32 size, u32 symbols, u32 edge_low, u32 edge_high,
 *     u32 percent_a, u32 percent_b, u8 flag_a, u32 option, u8 flag_b. size subcarriers at
 *     rate / size apart; edge_low and edge_high unused subcarriers at the two band edges, the DC
 *     subcarrier unused when flag_a, every 8th used subcarrier a pilot (+1) when flag_b, the
 *     others data of modulation code `option`; a cyclic prefix of percent_a % of size; a
 *     raised-cosine taper over percent_b % of the prefix. symbols * (size + prefix) samples.
 *   AWGN (16): f64 bandwidth, f64 duration. Complex Gaussian noise with a flat spectrum over
 *     |f| <= bandwidth / 2 and none outside; round(duration * rate) samples.
 *
 * Identical parameters give identical samples: the data and noise sequences start from fixed
 * states, and the generator's identity does not change the output.
 *
 * GetALGVersion writes GSW_VERSION to a uint32_t at `version` when it is not NULL. The generator
 * object records the identity it was created from; up to GSW_MAX_GENERATORS live at once. */
#ifndef GEN_SIGNAL_WAVE_H
#define GEN_SIGNAL_WAVE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define GSW_API __attribute__((visibility("default")))
#else
#define GSW_API
#endif

enum {
  GSW_OK = 0,
  GSW_INVALID = -1,
  GSW_TOO_SMALL = -2,
  GSW_MAX_GENERATORS = 64
};

#define GSW_VERSION 0x00010000u
#define GSW_MAX_RATE 1.25e9
#define GSW_MAX_SAMPLES 100000000ull

GSW_API int32_t GetALGVersion(void* version);
/* A positive generator handle, or GSW_INVALID when GSW_MAX_GENERATORS are alive. */
GSW_API int32_t GenSignalObjCreatSelfEncode(uint32_t model, uint32_t uid_high,
                                            uint32_t uid_low_low, uint32_t uid_low_high);
/* GSW_OK, or GSW_INVALID for a handle that is not alive. */
GSW_API int32_t GenSignalObjRelease(int32_t generator);

GSW_API int32_t GenerateDigitalModWaveform(int32_t generator, const void* record, double rate,
                                           int32_t count, void* samples, void* sample_count);
GSW_API int32_t GenerateAmWaveform(int32_t generator, const void* record, double rate,
                                   void* samples, void* sample_count);
GSW_API int32_t GenerateFmWaveform(int32_t generator, const void* record, double rate,
                                   void* samples, void* sample_count);
GSW_API int32_t GenerateDssWaveform(int32_t generator, const void* record, double rate,
                                    int32_t count, void* samples, void* sample_count);
GSW_API int32_t GeneratePulseWaveform(int32_t generator, const void* record, double rate,
                                      void* samples, void* sample_count);
GSW_API int32_t GenerateMultitoneWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count);
GSW_API int32_t GenerateStepSweepWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count);
GSW_API int32_t GenerateRampSweepWaveform(int32_t generator, const void* record, double rate,
                                          void* samples, void* sample_count);
GSW_API int32_t GenerateOFDMWaveform(int32_t generator, const void* record, double rate,
                                     void* samples, void* sample_count);
GSW_API int32_t GenerateAWGNWaveform(int32_t generator, const void* record, double rate,
                                     void* samples, void* sample_count);

#ifdef __cplusplus
}
#endif

#endif /* GEN_SIGNAL_WAVE_H */
