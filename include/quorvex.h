/*
 * quorvex.h - C interface of the Quorvex data-acquisition library
 * (QUORVEX.dll on Windows, libquorvex.so on Linux).
 *
 * Conventions that hold for every function below:
 *
 *  - Calling convention: QVX_CALL, which is __stdcall on 32-bit Windows and
 *    the platform default elsewhere.
 *  - Cards: up to 16 modules, card numbers 0..15. Functions without a card
 *    argument act on the current card, which OpenCard and SwitchCard select.
 *  - Status codes (int32_t):
 *      QVX_OK (0)        success; also "nothing to do" or "no data delivered"
 *                        where the function says so;
 *      QVX_FAILURE (1)   the driver reported a failure, or the card's error
 *                        latch was set when the call began;
 *      QVX_ARGUMENT (2)  an argument is out of range (card number, channel,
 *                        count, mode, null pointer).
 *    The memory-measurement functions report their argument errors as 1 and
 *    GetMemoryMeasurementStatus has codes of its own (2, 10, 11, 12).
 *  - Error latch: a failure or a refused argument latches the card; every
 *    further call on it returns 1 until ClearChannelLists,
 *    ClearChannelListsEx or a successful OpenCard clears the latch.
 *  - Units: voltages in volts (analog span -10 V .. +10 V), rates in Hz,
 *    counts of scans ("values per channel") unless a function says otherwise.
 *    Analog codes are 16-bit offset binary: 0 = -10 V, 32768 = 0 V,
 *    65535 = +10 V less one step (1/3276.8 V).
 *  - Buffers belong to the caller and must stay valid for the call.
 *  - Status messages: quorvex_status.h holds the name and message of every
 *    status code (QvxStatusMessage, QvxStatusName).
 *
 * Threading model:
 *
 *  - The current card is one for the whole process. Make the calls of a
 *    program from one thread, or serialise them: a thread that calls
 *    SwitchCard and then a function without a card argument must not be
 *    interrupted by another thread's SwitchCard or OpenCard in between.
 *    The C++ interface (quorvex.hpp) does this for you.
 *  - Each open card has a worker thread inside the library, from OpenCard
 *    to CloseCard. It fetches captured data from the driver into the
 *    driver's buffers, feeds streamed output from the library's ring to the
 *    driver, and keeps the counter values of StartCTforRead. It calls only
 *    the driver, never the application; the library has no callbacks.
 *  - A failure the worker meets (a driver fetch that fails, for example
 *    after the module's on-board memory overflowed) latches the card and
 *    stops its acquisition or output; the application sees it as status 1
 *    from its next call on that card.
 *  - Calls that wait (stops, mode-1 puts) wait at most a few seconds; the
 *    waits are listed in docs/behaviour.md.
 *
 * docs/api.md describes every function in full; docs/behaviour.md records
 * the library's choices where a call could be ambiguous.
 */
#ifndef QUORVEX_H
#define QUORVEX_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QVX_CALL __stdcall
#else
#define QVX_CALL
#endif

/* Visibility of the exports. Windows builds export through quorvex.def only. */
#if !defined(_WIN32) && defined(QUORVEX_BUILDING_LIBRARY)
#define QVX_API __attribute__((visibility("default")))
#else
#define QVX_API
#endif

#define QVX_OK 0
#define QVX_FAILURE 1
#define QVX_ARGUMENT 2

#define QVX_MAX_CARDS 16

/* Memory-measurement status codes (GetMemoryMeasurementStatus). */
#define QVX_MEM_TARGET_PASSED 10
#define QVX_MEM_NOT_RUNNING 11
#define QVX_MEM_RUNNING 12

#ifdef __cplusplus
extern "C" {
#endif

/* Record filled by ReadFlashData (84 bytes). Texts are zero-terminated when
 * shorter than their field; a text that fills its field has no terminator. */
typedef struct QvxFlashInfo {
  char IdentText1[32];
  char IdentText2[20];
  int32_t NumAdChannels;
  int32_t IdentByte141;
  int32_t NumDaChannels;
  int32_t IdentByte145;
  int32_t NumCounters;
  int32_t NumDigitalLines;
  int32_t Reserved76; /* always 1 */
  int32_t Reserved80; /* always 0 */
} QvxFlashInfo;

/* Record filled by ReadFlashDataEx (288 bytes). Bytes 104..263 (Untouched)
 * are left as the caller had them. */
typedef struct QvxFlashInfoEx {
  QvxFlashInfo Info;
  int32_t Value84;        /* 1 */
  int32_t MaxAdRateHz;    /* highest aggregate analog input rate, Hz */
  int32_t Value92;        /* 1 */
  int32_t MaxAdRateHz2;   /* the same rate again */
  int32_t Value100;       /* 2 */
  uint8_t Untouched[160]; /* bytes 104..263 */
  int32_t Values264[6];   /* 4, 1, 2, 4, 8, 0 */
} QvxFlashInfoEx;

/* ---- Card lifecycle ---------------------------------------------------- */
QVX_API int32_t QVX_CALL LoadCard(int32_t card);
QVX_API int32_t QVX_CALL OpenCard(int32_t card);
QVX_API int32_t QVX_CALL SwitchCard(int32_t card);
QVX_API int32_t QVX_CALL CloseCard(int32_t card);

/* ---- Card set-up ------------------------------------------------------- */
QVX_API int32_t QVX_CALL ConfigCard(int32_t mode, int32_t extra1, int32_t extra2);
QVX_API int32_t QVX_CALL ClearChannelLists(void);
QVX_API int32_t QVX_CALL ClearChannelListsEx(int32_t number, int32_t extra1, int32_t extra2);
QVX_API int32_t QVX_CALL FinalInit(void);
/* Exported as "_ReSynchronize@0" on Windows and as "ReSynchronize" on Linux. */
QVX_API int32_t QVX_CALL ReSynchronize(void);
QVX_API int32_t QVX_CALL PrepareExtTrigger(int32_t card, int32_t flag1, int32_t flag2,
                                           int32_t flag3);
QVX_API int32_t QVX_CALL SetMasterSlaveFunction(int32_t card, int32_t mode);
QVX_API int32_t QVX_CALL SetDelay(int32_t card, int32_t delay);

/* ---- Module information and flash -------------------------------------- */
QVX_API int32_t QVX_CALL ReadFlashData(int32_t card, QvxFlashInfo* info);
QVX_API int32_t QVX_CALL ReadFlashDataEx(int32_t card, QvxFlashInfoEx* info);
QVX_API int32_t QVX_CALL GetCustomerName(int32_t card, char* text);
QVX_API int32_t QVX_CALL GetEnhancedInformations(int32_t card, void* destination);
QVX_API int32_t QVX_CALL GetDLLVersion(char* text20, int32_t* major, int32_t* minor,
                                       int32_t* build);
QVX_API int32_t QVX_CALL ClearPrivateFlash(int32_t card);
QVX_API int32_t QVX_CALL ReadPrivateFlash(int32_t card, void* buffer, int32_t count);
QVX_API int32_t QVX_CALL WritePrivateFlash(int32_t card, const void* buffer, int32_t count);

/* ---- Reserved entry points: accept their arguments and return 0 -------- */
QVX_API int32_t QVX_CALL ProgramUserTimerFrequency(int32_t a1, int32_t a2);
QVX_API int32_t QVX_CALL StartUserTimer(int32_t a1, int32_t a2);
QVX_API int32_t QVX_CALL StopUserTimer(int32_t a1);
QVX_API int32_t QVX_CALL SendICPSettings(int32_t a1, int32_t a2);
QVX_API int32_t QVX_CALL ShowDebugNumber(int32_t a1);
QVX_API int32_t QVX_CALL GetHWExtensions(void* a1);
QVX_API int32_t QVX_CALL GetSWExtensions(void* a1);
QVX_API int32_t QVX_CALL PreparePWMOutput(int32_t a1, int32_t a2, int32_t a3);
QVX_API int32_t QVX_CALL PrepareFMOutput(int32_t a1, int32_t a2, int32_t a3);
QVX_API int32_t QVX_CALL WriteNewPWMRatio(int32_t a1, int32_t a2, int32_t a3);
QVX_API int32_t QVX_CALL WriteNewFMRatio(int32_t a1, int32_t a2, int32_t a3);
QVX_API int32_t QVX_CALL WriteNewPWMRatioEx(int32_t a1, int32_t a2, int32_t a3, int32_t a4);
QVX_API int32_t QVX_CALL WriteNewFMRatioEx(int32_t a1, int32_t a2, int32_t a3, int32_t a4);
QVX_API int32_t QVX_CALL GetFFTData(int32_t a1, void* a2);
/* Returns 2 when card is not in 0..15, else 0. */
QVX_API int32_t QVX_CALL PrepareFFTEntry(int32_t card, int32_t a2, int32_t a3, int32_t a4,
                                         int32_t a5, int32_t a6, int32_t a7, int32_t a8);
QVX_API int32_t QVX_CALL PrepareFilterEntry(int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                            int32_t a5, int32_t a6, int32_t a7, int32_t a8,
                                            int32_t a9, int32_t a10, int32_t a11, int32_t a12,
                                            int32_t a13, int32_t a14, int32_t a15, int32_t a16,
                                            int32_t a17, int32_t a18, int32_t a19, int32_t a20);
QVX_API int32_t QVX_CALL PreparePIDEntry(int32_t a1, int32_t a2, int32_t a3, int32_t a4, int32_t a5,
                                         int32_t a6, int32_t a7, int32_t a8, int32_t a9,
                                         int32_t a10, int32_t a11, int32_t a12, int32_t a13,
                                         int32_t a14, int32_t a15, int32_t a16, int32_t a17,
                                         int32_t a18);
QVX_API int32_t QVX_CALL PrepareTriggerEntry(int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                             int32_t a5, int32_t a6, int32_t a7, int32_t a8,
                                             int32_t a9, int32_t a10, int32_t a11, int32_t a12,
                                             int32_t a13, int32_t a14, int32_t a15, int32_t a16,
                                             int32_t a17, int32_t a18, int32_t a19, int32_t a20,
                                             int32_t a21, int32_t a22, int32_t a23, int32_t a24,
                                             int32_t a25, int32_t a26);
QVX_API int32_t QVX_CALL PrepareTriggerTakt(int32_t a1, int32_t a2, int32_t a3, int32_t a4,
                                            int32_t a5);
QVX_API int32_t QVX_CALL SetGlobalTriggerValues(int32_t a1, int32_t a2, int32_t a3);

/* ---- Analog input: scan list, rate, capture, retrieval ------------------ */
QVX_API int32_t QVX_CALL Add_AD_Channel_to_ScanList(int32_t channel, int32_t p2, int32_t range,
                                                    int32_t p4);
QVX_API int32_t QVX_CALL SetADFrequency(int32_t rate_hz);
QVX_API int32_t QVX_CALL SetADFrequencyEx(int32_t p1, int32_t p2, int32_t p3);
QVX_API int32_t QVX_CALL StartADCapture(void);
QVX_API int32_t QVX_CALL StartADCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3);
QVX_API int32_t QVX_CALL StopADCapture(void);
QVX_API int32_t QVX_CALL GetADBufferStatus(int32_t card, int32_t* values_per_channel);
QVX_API int32_t QVX_CALL GetScaledData(int32_t p1, double* destination, int32_t* count,
                                       int32_t mode);
QVX_API int32_t QVX_CALL GetBinaryData(uint32_t* destination, int32_t* count, int32_t mode);

/* ---- Analog input: single conversion ------------------------------------ */
QVX_API int32_t QVX_CALL CaptureOneChannel(int32_t channel, int32_t mode, int32_t range,
                                           double* scaled_value, uint32_t* binary_value);
QVX_API int32_t QVX_CALL CaptureOneChannelEx(int32_t channel, int32_t mode, int32_t p3,
                                             int32_t range, int32_t p5, int32_t p6,
                                             double* scaled_value, uint32_t* binary_value);

/* ---- Analog output -------------------------------------------------------- */
QVX_API int32_t QVX_CALL PutOneChannel(int32_t channel, int32_t p2, double volts);
QVX_API int32_t QVX_CALL Add_DA_Channel_to_ScanList(int32_t channel);
QVX_API int32_t QVX_CALL Add_DA_Channel_to_ScanListEx(int32_t channel, int32_t p2, int32_t p3);
QVX_API int32_t QVX_CALL SetDAFrequency(int32_t rate_hz);
QVX_API int32_t QVX_CALL StartDAOutput(void);
QVX_API int32_t QVX_CALL StartDAOutputEx(int32_t p1, int32_t p2, int32_t p3);
QVX_API int32_t QVX_CALL StopDAOutput(void);
QVX_API int32_t QVX_CALL PutScaledData(int32_t p1, const double* volts, int32_t channels,
                                       int32_t* frames, int32_t mode);
QVX_API int32_t QVX_CALL PutBinaryData(const uint16_t* codes, int32_t channels, int32_t* frames,
                                       int32_t mode);
QVX_API int32_t QVX_CALL GetDAFreeBufferSpace(int32_t card, int32_t* free_frames);

/* ---- Digital I/O ---------------------------------------------------------- */
QVX_API int32_t QVX_CALL SetDigitalDirection(int32_t line, int32_t direction);
QVX_API int32_t QVX_CALL ReadDigitalBit(int32_t line, uint32_t* value);
QVX_API int32_t QVX_CALL WriteDigitalBit(int32_t line, int32_t value);
QVX_API int32_t QVX_CALL SetDigitalPortDirection(int32_t first_line, int32_t count,
                                                 int32_t direction);
QVX_API int32_t QVX_CALL ReadDigitalPort(int32_t first_line, int32_t p2, uint32_t* value);
QVX_API int32_t QVX_CALL WriteDigitalPort(int32_t first_line, int32_t count, uint32_t value);

/* ---- Digital input capture ----------------------------------------------- */
QVX_API int32_t QVX_CALL Add_Dig_Channel_to_ScanList(int32_t channel, int32_t width_code);
QVX_API int32_t QVX_CALL DIN_AddChannel_To_DINScanlist(int32_t channel, int32_t width_code);
QVX_API int32_t QVX_CALL SetDINFrequency(double rate_hz);
QVX_API int32_t QVX_CALL StartDINCapture(void);
QVX_API int32_t QVX_CALL StartDINCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3);
QVX_API int32_t QVX_CALL StopDINCapture(void);
QVX_API int32_t QVX_CALL DIN_GetScaledData(uint32_t* destination, int32_t* count, int32_t mode);
QVX_API int32_t QVX_CALL DIN_GetBinaryData(uint32_t* destination, int32_t* count, int32_t mode);
QVX_API int32_t QVX_CALL GetDINBufferStatus(int32_t card, int32_t* values_per_channel);

/* ---- Counters --------------------------------------------------------------- */
QVX_API int32_t QVX_CALL ConfigureCounterInput(int32_t counter, int32_t mode, int32_t a3,
                                               int32_t a4, int32_t a5, int32_t a6, int32_t a7,
                                               int32_t a8, int32_t a9);
QVX_API int32_t QVX_CALL ConfigureCounterInputEx(int32_t counter, int32_t mode, int32_t a3,
                                                 int32_t a4, int32_t a5, int32_t a6, int32_t a7,
                                                 int32_t a8, int32_t a9, int32_t a10);
QVX_API int32_t QVX_CALL ReadCounterValue(int32_t counter, uint32_t* value);
QVX_API int32_t QVX_CALL Add_CT_Channel_to_ScanList(int32_t counter);
QVX_API int32_t QVX_CALL CT_AddChannel_To_CTScanlist(int32_t counter);
QVX_API int32_t QVX_CALL SetCTFrequency(double rate_hz);
QVX_API int32_t QVX_CALL StartCTCapture(void);
QVX_API int32_t QVX_CALL StartCTCaptureEx(int32_t flag1, int32_t flag2, int32_t flag3);
QVX_API int32_t QVX_CALL StartCTforRead(void);
QVX_API int32_t QVX_CALL StopCTCapture(void);
QVX_API int32_t QVX_CALL CT_GetScaledData(uint32_t* destination, int32_t* values_per_channel,
                                          int32_t mode);
QVX_API int32_t QVX_CALL CT_GetBinaryData(uint32_t* destination, int32_t* values_per_channel,
                                          int32_t mode);
QVX_API int32_t QVX_CALL GetCTBufferStatus(int32_t card, int32_t* values_per_channel);

/* ---- Memory measurements ------------------------------------------------ */
QVX_API int32_t QVX_CALL StartMemoryMeasurement(int32_t card, int32_t setting_a,
                                                int32_t value_count, int32_t setting_b);
QVX_API int32_t QVX_CALL StartMemoryMeasurementEx(int32_t card, int32_t setting_a,
                                                  int32_t value_count, int32_t setting_b,
                                                  int32_t p5);
QVX_API int32_t QVX_CALL StopMemoryMeasurement(int32_t card);
QVX_API int32_t QVX_CALL DeInitMemoryMeasurement(int32_t card);
QVX_API int32_t QVX_CALL GetMemoryMeasurementStatus(int32_t card);
QVX_API int32_t QVX_CALL ReadMemoryMeasurementStatus(int32_t card, int32_t* use_values,
                                                     int32_t* size);
QVX_API int32_t QVX_CALL GetScaledDataFromMemoryMeasurement(int32_t card, int32_t setting_c,
                                                            int32_t channel_count,
                                                            int32_t value_count,
                                                            double* destination, int32_t mode,
                                                            int32_t* transferred);
QVX_API int32_t QVX_CALL GetBinaryDataFromMemoryMeasurement(int32_t card, int32_t channel_count,
                                                            int32_t value_count,
                                                            int32_t* destination, int32_t mode,
                                                            int32_t* transferred);

#ifdef __cplusplus
}
#endif

#endif /* QUORVEX_H */
