/*
 * kestro_sim.h - control interface of the simulated Kestro module.
 *
 * The simulated module is a complete kestrolib: the same 54 entry points as
 * the maker's driver, backed by a model of the modules instead of USB. Every
 * Quorvex build ships it and loads it by default. Tests and tools steer it
 * through the functions below, which it exports beside the driver entries.
 *
 * Module choice: each card number 0..15 holds one module from the catalogue.
 * kestro_sim_set_module changes it; the environment variable
 * KESTRO_SIM_MODULES ("0=hispeed,3=counter") sets the initial choice when
 * the simulator is loaded. Unlisted cards hold the standard module.
 *
 * All functions are thread-safe. Entry names are the driver's export names,
 * for example "ZQ7_AD_Start".
 */
#ifndef KESTRO_SIM_H
#define KESTRO_SIM_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(KESTRO_SIM_BUILDING)
#define KESTRO_SIM_API __declspec(dllexport)
#else
#define KESTRO_SIM_API __declspec(dllimport)
#endif
#else
#define KESTRO_SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The module catalogue. */
typedef enum kestro_sim_module {
  /* 16 analog inputs, 500 kHz aggregate, 4 analog outputs, 24 digital lines,
   * 4 counters; module type 2. */
  KESTRO_SIM_STANDARD = 0,
  /* Counter module, module type 9: 4 analog inputs, 8 counters. */
  KESTRO_SIM_COUNTER = 1,
  /* Module type 12: per-channel rate bounded by the aggregate rate over all
   * inputs (8 inputs, 100 kHz). */
  KESTRO_SIM_STRICT = 2,
  /* High-speed module (USB high speed): 16 inputs, 4 MHz aggregate, output
   * blocks of 256 codes. */
  KESTRO_SIM_HISPEED = 3,
  /* Standard module whose driver reports 4 dedicated digital inputs. */
  KESTRO_SIM_TTL_IN4 = 4,
  /* Standard module whose driver reports 8 dedicated digital inputs. */
  KESTRO_SIM_TTL_IN8 = 5,
  /* No module answers: ZQ7_CreateSimpleHandle fails. */
  KESTRO_SIM_ABSENT = 6,
  /* Digital module, module type 2: 32 digital lines, all of them usable as
   * capture inputs (ZQ7_GetNumOfTTLIn 32), 8 analog inputs, 4 counters. */
  KESTRO_SIM_DIGITAL = 7,
  KESTRO_SIM_MODULE_COUNT = 8
} kestro_sim_module;

/* Puts every card back to its initial module, clears all faults, delays,
 * counters, the call log and the state of every simulated module. */
KESTRO_SIM_API void kestro_sim_reset(void);

/* Chooses the module behind a card number. Returns 0, or -1 for a bad card
 * or module. The new module starts in its power-on state. */
KESTRO_SIM_API int32_t kestro_sim_set_module(int32_t card, int32_t module);
KESTRO_SIM_API int32_t kestro_sim_get_module(int32_t card);
/* Short name of a module ("standard", "counter", ...), or "" when unknown. */
KESTRO_SIM_API const char* kestro_sim_module_name(int32_t module);
/* 1 while the card's handle is open (between CreateSimpleHandle and
 * CloseSimpleHandle). */
KESTRO_SIM_API int32_t kestro_sim_is_open(int32_t card);

/* ---- Fault injection --------------------------------------------------- */
/* The next `times` calls of `entry` (on any card) return `result` instead of
 * doing their work; times < 0 means every call until cleared, 0 clears. For
 * entry points that return a record, the result is ignored and the call
 * fails by returning a zero record. Returns 0, or -1 for an unknown entry. */
KESTRO_SIM_API int32_t kestro_sim_fail(const char* entry, int32_t result, int32_t times);
/* Every call of `entry` first sleeps `ms` milliseconds (0 removes the delay).
 * Returns 0, or -1 for an unknown entry. */
KESTRO_SIM_API int32_t kestro_sim_delay(const char* entry, uint32_t ms);
/* Removes every injected fault and delay. */
KESTRO_SIM_API void kestro_sim_clear_faults(void);

/* ---- Call accounting ----------------------------------------------------- */
/* Calls of `entry` since the last reset (on any card); 0 for unknown names. */
KESTRO_SIM_API uint32_t kestro_sim_call_count(const char* entry);
/* The call log keeps the most recent KESTRO_SIM_LOG_CAPACITY calls, oldest
 * first, each as text: the entry name and its arguments in parentheses, for
 * example "ZQ7_AD_AddChannellist(0, 3, 1, 0)". Pointers print as "ptr" or
 * "null". Logging can be switched off for long runs. */
#define KESTRO_SIM_LOG_CAPACITY 4096
KESTRO_SIM_API uint32_t kestro_sim_log_size(void);
/* Copies entry `index` (0 = oldest kept) into `text`, zero-terminated and cut
 * to `size`. Returns its full length, or -1 when index is out of range. */
KESTRO_SIM_API int32_t kestro_sim_log_entry(uint32_t index, char* text, uint32_t size);
KESTRO_SIM_API void kestro_sim_log_clear(void);
KESTRO_SIM_API void kestro_sim_log_enable(int32_t enabled);
/* Number of driver entry points, and the name of entry `index` (NULL when
 * out of range), in the driver's own order. */
#define KESTRO_SIM_ENTRY_COUNT 54
KESTRO_SIM_API const char* kestro_sim_entry_name(int32_t index);

/* ---- Analog inputs -------------------------------------------------------
 * Each analog input carries a signal. A conversion (ZQ7_AD_TriggerChannel)
 * returns the code of the signal at that moment, with t the seconds since the
 * module was opened: code = trunc((v + 10) * 3276.8), clamped to 0..65535.
 * Power-on: input k loops back output k for k below the number of outputs,
 * every other input is DC 0 V. */
typedef enum kestro_sim_signal_kind {
  KESTRO_SIM_SIGNAL_DC = 0,      /* offset */
  KESTRO_SIM_SIGNAL_SINE = 1,    /* offset + amplitude * sin(2 pi frequency t) */
  KESTRO_SIM_SIGNAL_SQUARE = 2,  /* offset + amplitude in the first half of each period,
                                    offset - amplitude in the second */
  KESTRO_SIM_SIGNAL_RAMP = 3,    /* sawtooth: offset - amplitude rising to offset + amplitude
                                    over each period */
  KESTRO_SIM_SIGNAL_NOISE = 4,   /* offset + amplitude * u, u uniform in [-1, 1), a fixed
                                    sequence per card and input (one draw per conversion) */
  KESTRO_SIM_SIGNAL_LOOPBACK = 5 /* the code of an analog output, passed on unchanged */
} kestro_sim_signal_kind;

/* Gives `input` a signal of kind DC, SINE, SQUARE, RAMP or NOISE (amplitude
 * and offset in volts, frequency in Hz). Returns 0, or -1 for a bad card,
 * input or kind (use kestro_sim_set_analog_loopback for loop-back). */
KESTRO_SIM_API int32_t kestro_sim_set_signal(int32_t card, int32_t input, int32_t kind,
                                             double amplitude, double offset, double frequency);
/* Makes `input` read the code last set on analog output `output`. */
KESTRO_SIM_API int32_t kestro_sim_set_analog_loopback(int32_t card, int32_t input, int32_t output);
/* The single-ended code `input` gives `seconds` after the module was opened,
 * without converting (a noise input gives the value of its next draw).
 * Returns -1 for a bad card or input. */
KESTRO_SIM_API int32_t kestro_sim_signal_code(int32_t card, int32_t input, double seconds);
/* Seconds of the card's time base: since it was opened, or since power-on
 * (reset or module change) while it was never opened. */
KESTRO_SIM_API double kestro_sim_elapsed(int32_t card);

/* ---- Analog outputs ------------------------------------------------------ */
/* The code last set on `output` by ZQ7_DA_TriggerChannel (32768 = 0 V at
 * power-on), or -1 for a bad card or output. */
KESTRO_SIM_API int32_t kestro_sim_da_code(int32_t card, int32_t output);

/* ---- Digital lines --------------------------------------------------------
 * Lines 0..NumDigitalLines-1, each an input (power-on) or an output with an
 * output latch. Group g holds lines 16g..16g+15. An input line reads its
 * input level, or the output latch of its loop-back source when it has one.
 * Modules with dedicated inputs (ttl4, ttl8) also have 4 or 8 input bits
 * that ZQ7_TTL_Getchannel returns below the port word. */
/* 1 for an output line, 0 for an input line, -1 for a bad card or line. */
KESTRO_SIM_API int32_t kestro_sim_digital_direction(int32_t card, int32_t line);
/* The output latches of group `group`, bit b for line 16*group+b, or -1. */
KESTRO_SIM_API int32_t kestro_sim_digital_output_word(int32_t card, int32_t group);
/* Sets the input level (0 or non-zero) of one line. Returns 0 or -1. */
KESTRO_SIM_API int32_t kestro_sim_set_digital_input(int32_t card, int32_t line, int32_t level);
/* Sets the input levels of the lines of group `group` from `word`. */
KESTRO_SIM_API int32_t kestro_sim_set_digital_input_word(int32_t card, int32_t group,
                                                         uint32_t word);
/* Input line `line` reads the output latch of `source` from now on;
 * source -1 removes the loop-back. Returns 0 or -1. */
KESTRO_SIM_API int32_t kestro_sim_set_digital_loopback(int32_t card, int32_t line, int32_t source);
/* Sets the dedicated input bits (bit i = dedicated input i); bits beyond
 * the module's dedicated inputs are dropped. Returns 0 or -1. */
KESTRO_SIM_API int32_t kestro_sim_set_dedicated_inputs(int32_t card, uint32_t bits);
/* Captured digital inputs. Each scan shows the lines as they stood when the
 * scan was taken (a change during a run applies from the next scan on). With
 * counting enabled, every input line without loop-back shows, in scan s of
 * a run, bit n of the 32-bit count start + s * step (wrapping) instead of
 * its input level; port reads (ZQ7_TTL_Getchannel) keep showing the levels.
 * enabled 0 switches counting off. Returns 0 or -1. */
KESTRO_SIM_API int32_t kestro_sim_set_digital_count(int32_t card, int32_t enabled, uint32_t start,
                                                    uint32_t step);

/* ---- Private flash ---------------------------------------------------------
 * 256 bytes per card number, kept for the life of the process (through
 * close, open and module changes); all 0xFF after kestro_sim_reset. */
#define KESTRO_SIM_PRIVATE_FLASH_SIZE 256
/* Copy min(count, 256) bytes out of / into the card's private flash.
 * Return the number of bytes copied, or -1 for a bad card, buffer or count. */
KESTRO_SIM_API int32_t kestro_sim_read_private_flash(int32_t card, void* buffer, int32_t count);
KESTRO_SIM_API int32_t kestro_sim_write_private_flash(int32_t card, const void* buffer,
                                                      int32_t count);

/* ---- Settings the driver received -----------------------------------------
 * All return -1 (or a negative rate) for a bad card number. */
/* Last ZQ7_SetDifferenz mode (0 single-ended, 1 differential). */
KESTRO_SIM_API int32_t kestro_sim_differential(int32_t card);
/* Last ZQ7_SetMasterSlave mode (0..2). */
KESTRO_SIM_API int32_t kestro_sim_master_slave(int32_t card);
/* Stores the last value WriteAlteraValue wrote to `reg` in *value and
 * returns 0; -1 when the register was never written. */
KESTRO_SIM_API int32_t kestro_sim_register(int32_t card, int32_t reg, int32_t* value);
/* Analog input channel list: its length, and entry `index` as given to
 * ZQ7_AD_AddChannellist (any pointer may be NULL). */
KESTRO_SIM_API int32_t kestro_sim_ad_list_length(int32_t card);
KESTRO_SIM_API int32_t kestro_sim_ad_list_entry(int32_t card, int32_t index, int32_t* channel,
                                                int32_t* range, int32_t* zero);
/* Last rate given to ZQ7_AD_SetFrequency / ZQ7_DA_SetFrequency (0 none). */
KESTRO_SIM_API double kestro_sim_ad_frequency(int32_t card);
KESTRO_SIM_API double kestro_sim_da_frequency(int32_t card);
/* The other channel lists, one number per entry. */
typedef enum kestro_sim_list {
  KESTRO_SIM_LIST_DA = 0, /* ZQ7_DA_AddChannellist: output channels */
  KESTRO_SIM_LIST_CT = 1, /* ZQ7_CT_AddChannelList: counters */
  KESTRO_SIM_LIST_TTL = 2 /* ZQ7_TTL_AddChannelList: lines */
} kestro_sim_list;
/* Copies up to `capacity` entries of list `list` into `entries` (may be NULL
 * when capacity is 0) and returns the list's length, or -1. */
KESTRO_SIM_API int32_t kestro_sim_list_entries(int32_t card, int32_t list, int32_t* entries,
                                               int32_t capacity);
/* The three flags of the last ZQ7_Start_Extern; returns 1 when it was
 * called since power-on, 0 when not (flags then 0), -1 for a bad card. */
KESTRO_SIM_API int32_t kestro_sim_start_extern(int32_t card, int32_t flags[3]);
/* Configuration of `counter`: returns 0 when it was never configured, 1 when
 * ZQ7_ConfigureCounterInput set it (values[0..7] = its arguments after the
 * counter), 2 when ZQ7_ConfigureCounterInputEx set it (values[0..9] = its
 * arguments after the counter), -1 for a bad card or counter. */
KESTRO_SIM_API int32_t kestro_sim_counter_config(int32_t card, int32_t counter, int32_t values[10]);
/* ---- Counter inputs ------------------------------------------------------
 * Each counter's input carries a square wave of `frequency` Hz (power-on 0:
 * no edges). A capture run counts its rising edges, one at every 1/frequency
 * seconds after the start, on the scan clock (scan s is taken s / rate
 * seconds after the start). What a counter-list entry shows in scan s
 * depends on the counter's mode, as ZQ7_ConfigureCounterInput(Ex) set it:
 *  - mode 1, frequency measurement: the rising edges of the last complete
 *    gate period before the scan (periods of 1 / G seconds from the start;
 *    0 until the first one completes). G is 10 per second, and on module
 *    type 9 10^a4 per second with a4 = 0..3 from ZQ7_ConfigureCounterInputEx
 *    (so the count times G is the frequency in Hz);
 *  - every other mode, and a counter never configured, event counting: the
 *    preset plus the rising edges since the start, 32-bit, wrapping.
 * Frequency, preset and mode are taken at ZQ7_AD_Start and hold for the run.
 * Pattern mode replaces all of it by kestro_sim_pattern_ct. */
/* Sets the input frequency (finite, 0 or more) of `counter`. Returns 0 or
 * -1. */
KESTRO_SIM_API int32_t kestro_sim_set_counter_input(int32_t card, int32_t counter,
                                                    double frequency);
/* Sets the value event counting starts from at each start (power-on 0). */
KESTRO_SIM_API int32_t kestro_sim_set_counter_preset(int32_t card, int32_t counter, uint32_t value);
/* The value counter-list entry `entry` shows in scan `scan` of the current
 * (or last) run outside pattern mode, 0..4294967295; -1 for a bad card or
 * an entry the run's counter list lacks. */
KESTRO_SIM_API int64_t kestro_sim_counter_value(int32_t card, int32_t entry, uint64_t scan);

/* Module number of a short name ("hispeed"), or -1 when unknown. */
KESTRO_SIM_API int32_t kestro_sim_module_from_name(const char* name);

/* ---- Clocked capture --------------------------------------------------------
 * From ZQ7_AD_Start until ZQ7_AD_Stop the module takes scans of its lists at
 * the rate of ZQ7_AD_SetFrequency: one code per analog list entry, one value
 * per counter-list entry and one word per 16-line digital group in use. Scans
 * are numbered from 0 at each start. They wait in an on-board memory (65536
 * scans at power-on) until ZQ7_AD_ReadData_MixedChannels moves them into the
 * driver's analog, counter and digital FIFOs (1 Mi scans each at power-on,
 * and at most 16 Mi values). When the on-board memory is full the oldest scan
 * is overwritten; when a FIFO is full the newest scans are dropped. Either
 * loss is counted and makes the next ZQ7_AD_ReadData_MixedChannels fail
 * (-1, nothing moved), so no loss goes unnoticed. All settings below last
 * until power-on (kestro_sim_reset, kestro_sim_set_module). */
typedef enum kestro_sim_clock {
  /* Scans follow a monotonic clock from the start (default). */
  KESTRO_SIM_CLOCK_REAL_TIME = 0,
  /* Scans appear only through kestro_sim_advance. */
  KESTRO_SIM_CLOCK_MANUAL = 1
} kestro_sim_clock;
/* Chooses the card's acquisition clock; a running capture goes on from the
 * scans taken so far. Returns 0, or -1 for a bad card or clock. */
KESTRO_SIM_API int32_t kestro_sim_set_clock(int32_t card, int32_t clock);
/* Manual clock: the running capture takes `scans` more scans now. Returns 0,
 * or -1 for a bad card, a negative count, the real-time clock or a stopped
 * capture. */
KESTRO_SIM_API int32_t kestro_sim_advance(int32_t card, int64_t scans);
/* Pattern mode (enabled != 0): every value encodes its scan and its entry,
 * as the kestro_sim_pattern_* functions give them, instead of following the
 * signals. Applies to scans fetched from then on. Returns 0 or -1. */
KESTRO_SIM_API int32_t kestro_sim_set_pattern(int32_t card, int32_t enabled);
/* Size of the on-board memory in scans (1 or more), from now on; and the
 * bound of each FIFO in scans (1 or more), from the next start. Return 0 or
 * -1. */
KESTRO_SIM_API int32_t kestro_sim_set_board_memory(int32_t card, int64_t scans);
KESTRO_SIM_API int32_t kestro_sim_set_fifo_capacity(int32_t card, int64_t scans);

typedef struct kestro_sim_capture_status {
  int32_t running;      /* 1 between ZQ7_AD_Start and ZQ7_AD_Stop */
  int32_t ad_width;     /* codes per scan in the analog FIFO */
  int32_t ct_width;     /* values per scan in the counter FIFO */
  int32_t din_width;    /* words per scan in the digital FIFO */
  uint64_t produced;    /* scans taken since the start */
  uint64_t board_scans; /* scans waiting in on-board memory */
  uint64_t board_lost;  /* scans overwritten in on-board memory */
  uint64_t fifo_lost;   /* scans dropped by a full FIFO */
  int64_t ad_fifo;      /* scans waiting in each FIFO */
  int64_t ct_fifo;
  int64_t din_fifo;
  int64_t fifo_capacity; /* scans the analog FIFO holds */
  /* Real-time clock: the longest time, in seconds, from the start of the
   * current (or last) run, or from kestro_sim_restart_fetch_gap, or from one
   * of its ZQ7_AD_ReadData_MixedChannels calls, to the next such call while
   * the run lasted (0 before the first). */
  double longest_fetch_gap;
} kestro_sim_capture_status;
/* Fills *status with the card's capture figures (brought up to the clock).
 * Returns 0, or -1 for a bad card or a null status. */
KESTRO_SIM_API int32_t kestro_sim_capture(int32_t card, kestro_sim_capture_status* status);
/* Measures longest_fetch_gap afresh from now on. Returns 0, or -1 for a bad
 * card. */
KESTRO_SIM_API int32_t kestro_sim_restart_fetch_gap(int32_t card);
/* Seconds of the card's time base at which scan `scan` of the current (or
 * last) run is taken: the moment of the start plus scan / rate on the
 * real-time clock, scan / rate on the manual clock. Signals are sampled at
 * that moment. Returns -1 for a bad card. */
KESTRO_SIM_API double kestro_sim_scan_time(int32_t card, uint64_t scan);
/* Pattern mode values: the analog code of list entry `entry`, the counter
 * value of counter-list entry `entry` and digital word `word` (0 = lowest
 * group in use) of scan `scan`. The entries of a scan always differ, and a
 * value depends on the whole scan number: a scan number that is off by any
 * amount gives other values except by chance (1 in 65536 per code or word,
 * 1 in 2^32 per counter value). A lost, repeated or misplaced scan therefore
 * shows at once. */
KESTRO_SIM_API uint16_t kestro_sim_pattern_ad(uint64_t scan, int32_t entry);
KESTRO_SIM_API uint32_t kestro_sim_pattern_ct(uint64_t scan, int32_t entry);
KESTRO_SIM_API uint16_t kestro_sim_pattern_din(uint64_t scan, int32_t word);

/* ---- Clocked output -----------------------------------------------------------
 * From ZQ7_DA_Start until ZQ7_DA_Stop the module outputs one frame per tick
 * of its output clock, at the rate of ZQ7_DA_SetFrequency: one code per entry
 * of its DA list, in list order, taken from an on-board queue that
 * ZQ7_DA_PutData fills (1024 codes; 4096 on the high-speed module).
 * ZQ7_DA_GetStatus reports word 0 = 1 while started, word 1 = free room of
 * the queue in codes, word 14 = 1. The clock starts with the first code that
 * arrives after the start (codes queued before it start it at once). When
 * frames are due and the queue holds no whole frame, that is an underrun: it
 * is counted, and the clock waits for the next code. Every code output
 * becomes the code of its output (looped-back inputs read it) and is
 * recorded. The queue keeps its codes through a stop; power-on empties it.
 * The clock is the kestro_sim_clock of the card's output, real time unless
 * chosen otherwise; every setting lasts until power-on. */
/* Codes the record keeps: the newest ones. */
#define KESTRO_SIM_DA_RECORD_CAPACITY (1u << 24)
/* Chooses the output clock (KESTRO_SIM_CLOCK_REAL_TIME or _MANUAL). A
 * running output goes on from the frames output so far. Returns 0, or -1 for
 * a bad card or clock. */
KESTRO_SIM_API int32_t kestro_sim_set_da_clock(int32_t card, int32_t clock);
/* Manual clock: `frames` more frames fall due now and go out as far as the
 * queue holds them (the rest is an underrun). Nothing happens while the
 * clock waits for its first code. Returns 0, or -1 for a bad card, a
 * negative count, the real-time clock or a stopped output. */
KESTRO_SIM_API int32_t kestro_sim_da_advance(int32_t card, int64_t frames);
/* Size of the on-board queue in codes, 0..4096, from now on; -1 gives the
 * module's own size back. Codes already queued beyond a smaller size stay
 * (the room is then 0). Returns 0, or -1 for a bad card or size. */
KESTRO_SIM_API int32_t kestro_sim_set_da_queue(int32_t card, int32_t codes);

typedef struct kestro_sim_output_status {
  int32_t running;        /* 1 between ZQ7_DA_Start and ZQ7_DA_Stop */
  int32_t width;          /* codes per frame: entries of the DA list */
  int32_t queue_size;     /* codes the on-board queue holds */
  int32_t queued;         /* codes waiting in it */
  uint64_t received;      /* codes ZQ7_DA_PutData accepted since power-on */
  uint64_t output;        /* codes output since power-on */
  uint64_t underruns;     /* times frames fell due on an empty queue */
  int64_t first_underrun; /* codes output before the first underrun; -1: none */
} kestro_sim_output_status;
/* Fills *status with the card's output figures (brought up to the clock).
 * Returns 0, or -1 for a bad card or a null status. */
KESTRO_SIM_API int32_t kestro_sim_output(int32_t card, kestro_sim_output_status* status);
/* Copies up to `count` recorded codes, starting with the code that was
 * output as number `first` (0 = the first since power-on), into `codes`.
 * Returns the number copied (fewer when fewer have been output), or -1 for a
 * bad card, a negative count, a null buffer with count > 0, or a `first`
 * that the record no longer keeps. */
KESTRO_SIM_API int64_t kestro_sim_da_record(int32_t card, uint64_t first, uint16_t* codes,
                                            int64_t count);

#ifdef __cplusplus
}
#endif

#endif /* KESTRO_SIM_H */
