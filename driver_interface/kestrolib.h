// The binary interface of the maker's driver library, kestrolib: its two
// record types and the list of its 54 entry points.
//
// One list describes every entry point: whether Quorvex needs it to load, its
// result type, its name, its parameters and the value a caller sees when the
// entry point is missing. The library builds its entry table and its typed
// wrappers from this list, and the simulated module declares its exports from
// the same list, so the two can never disagree about a signature. Neither
// side's private headers are needed to read it.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRO_CALL __stdcall
#else
#define KESTRO_CALL
#endif

// Identification record of a module, as kept in its flash (8360 bytes).
struct KestroModuleInfo {
  std::uint8_t bytes[8360];
};

// Output status of a module: 21 signed words. Word 0 is non-zero while output
// runs, word 1 is the room of the module's output queue in codes, word 14 is
// the ready word.
struct KestroDaStatus {
  std::int32_t word[21];
};

constexpr int kKestroDaStatusWords = 21;

// X(required, result, name, parameters, arguments, result when missing)
//
// Failure values follow what each caller reads as failure: entry points that
// report success as 1 give 0, those that report success as 0 or fail when
// negative give -1, counts and port words give 0, records give all zeros.
// clang-format off
#define KESTRO_ENTRIES(X)                                                                       \
  X(1, std::int32_t, ZQ7_CreateSimpleHandle, (std::int32_t card), (card), 0)                        \
  X(1, std::int32_t, ZQ7_CloseSimpleHandle, (std::int32_t card), (card), 0)                         \
  X(1, std::int32_t, ZQ7_SwitchCard, (std::int32_t card), (card), -1)                               \
  X(1, KestroModuleInfo, ZQ7_ReadNewFlash, (std::int32_t card), (card), KestroModuleInfo{})    \
  X(1, std::int32_t, ZQ7_WriteNewFlash, (std::int32_t card, const KestroModuleInfo* info), (card, info), -1) \
  X(1, std::int32_t, ZQ7_Get_ModuleIdent, (std::int32_t card, std::uint32_t* ident), (card, ident), -1) \
  X(1, std::int32_t, ZQ7_IsHiSpeed, (std::int32_t card), (card), 0)                                 \
  X(1, std::int32_t, ZQ7_SetDifferenz, (std::int32_t card, std::int32_t mode), (card, mode), -1)    \
  X(1, std::int32_t, ZQ7_SetMasterSlave, (std::int32_t card, std::int32_t mode), (card, mode), -1)  \
  X(1, std::int32_t, ZQ7_ConfigMeasure, (std::int32_t card), (card), -1)                            \
  X(1, std::int32_t, ZQ7_Start_Extern, (std::int32_t card, std::int32_t a, std::int32_t b, std::int32_t c), (card, a, b, c), -1) \
  X(1, std::int32_t, WriteAlteraValue, (std::int32_t card, std::int32_t reg, std::int32_t value), (card, reg, value), 0) \
  X(1, std::int32_t, ReadAlteraValue, (std::int32_t card, std::int32_t reg), (card, reg), -1)       \
  X(1, std::int32_t, ZQ7_ClearPrivateFlash, (std::int32_t card), (card), -1)                        \
  X(1, std::int32_t, ZQ7_ReadPrivateFlash, (std::int32_t card, void* buffer, std::int32_t count), (card, buffer, count), -1) \
  X(1, std::int32_t, ZQ7_WritePrivateFlash, (std::int32_t card, const void* buffer, std::int32_t count), (card, buffer, count), -1) \
  X(1, std::int32_t, ZQ7_AD_ClearChannelList, (std::int32_t card), (card), 0)                       \
  X(1, std::int32_t, ZQ7_AD_AddChannellist, (std::int32_t card, std::int32_t channel, std::int32_t range, std::int32_t zero), (card, channel, range, zero), -1) \
  X(1, std::int32_t, ZQ7_AD_SetFrequency, (std::int32_t card, double rate), (card, rate), -1)       \
  X(1, std::int32_t, ZQ7_AD_Start, (std::int32_t card), (card), -1)                                 \
  X(1, std::int32_t, ZQ7_AD_Stop, (std::int32_t card), (card), -1)                                  \
  X(1, std::int32_t, ZQ7_AD_TriggerChannel, (std::int32_t card, std::int32_t channel, std::int32_t range, std::int32_t zero), (card, channel, range, zero), -1) \
  X(1, KestroDaStatus, ZQ7_AD_GetStatus, (std::int32_t card), (card), KestroDaStatus{})    \
  X(1, KestroDaStatus, ZQ7_AD_GetStatus_MixedChannels, (std::int32_t card), (card), KestroDaStatus{}) \
  X(0, std::int32_t, ZQ7_AD_GetData, (std::int32_t card, std::int32_t* count, std::uint16_t* dest), (card, count, dest), -1) \
  X(0, std::int32_t, ZQ7_AD_GetData_MixedChannels, (std::int32_t card, std::int32_t* count, std::uint16_t* dest), (card, count, dest), -1) \
  X(1, std::int32_t, ZQ7_AD_ReadData_MixedChannels, (std::int32_t card, std::int32_t* count), (card, count), -1) \
  X(1, std::int32_t, ZQ7_AD_GetFifoStatus, (std::int32_t card), (card), 0)                          \
  X(1, std::int32_t, ZQ7_AD_GetDataFromFifo, (std::int32_t card, std::int32_t count, std::uint16_t* dest), (card, count, dest), -1) \
  X(1, std::int32_t, ZQ7_DIN_GetFifoStatus, (std::int32_t card), (card), 0)                         \
  X(1, std::int32_t, ZQ7_DIN_GetDataFromFifo, (std::int32_t card, std::int32_t count, std::uint16_t* dest), (card, count, dest), -1) \
  X(1, std::int32_t, ZQ7_CT_GetFifoStatus, (std::int32_t card), (card), 0)                          \
  X(1, std::int32_t, ZQ7_CT_GetDataFromFifo, (std::int32_t card, std::int32_t count, std::uint32_t* dest), (card, count, dest), -1) \
  X(1, std::int32_t, ZQ7_CT_AddChannelList, (std::int32_t card, std::int32_t counter), (card, counter), -1) \
  X(1, std::int32_t, ZQ7_CT_GetData, (std::int32_t card, std::int32_t* count, std::uint32_t* dest), (card, count, dest), -1) \
  X(1, std::int32_t, ZQ7_ConfigureCounterInput, (std::int32_t card, std::int32_t counter, std::int32_t mode, std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d, std::int32_t e, std::int32_t f, std::int32_t g), (card, counter, mode, a, b, c, d, e, f, g), -1) \
  X(1, std::int32_t, ZQ7_ConfigureCounterInputEx, (std::int32_t card, std::int32_t counter, std::int32_t mode, std::int32_t a5, std::int32_t zero1, std::int32_t zero2, std::int32_t a3, std::int32_t a4, std::int32_t a6, std::int32_t a7, std::int32_t a8, std::int32_t a9), (card, counter, mode, a5, zero1, zero2, a3, a4, a6, a7, a8, a9), -1) \
  X(1, std::int32_t, ZQ7_GetNumOfTTLIn, (std::int32_t card), (card), 0)                             \
  X(1, std::int32_t, ZQ7_GetNumOfTTLOut, (std::int32_t card), (card), 0)                            \
  X(1, std::uint32_t, ZQ7_TTL_Getchannel, (std::int32_t card, std::int32_t line), (card, line), 0u) \
  X(1, std::int32_t, ZQ7_TTL_PutChannel, (std::int32_t card, std::int32_t line, std::uint32_t word), (card, line, word), -1) \
  X(1, std::int32_t, ZQ7_TTL_SetDirection, (std::int32_t card, std::int32_t line, std::int32_t direction), (card, line, direction), -1) \
  X(1, std::int32_t, ZQ7_TTL_AddChannelList, (std::int32_t card, std::int32_t line), (card, line), -1) \
  X(1, KestroDaStatus, ZQ7_TTL_GetStatus, (std::int32_t card), (card), KestroDaStatus{})   \
  X(1, std::int32_t, ZQ7_TTL_GetData, (std::int32_t card, std::int32_t* count, std::uint16_t* dest), (card, count, dest), -1) \
  X(0, std::int32_t, ZQ7_DA_ClearChannelList, (std::int32_t card), (card), 0)                       \
  X(0, std::int32_t, ZQ7_DA_AddChannellist, (std::int32_t card, std::int32_t channel), (card, channel), -1) \
  X(0, std::int32_t, ZQ7_DA_SetFrequency, (std::int32_t card, double rate), (card, rate), -1)       \
  X(0, std::int32_t, ZQ7_DA_Start, (std::int32_t card), (card), -1)                                 \
  X(0, std::int32_t, ZQ7_DA_Stop, (std::int32_t card), (card), -1)                                  \
  X(0, KestroDaStatus, ZQ7_DA_GetStatus, (std::int32_t card), (card), KestroDaStatus{})    \
  X(0, std::int32_t, ZQ7_DA_PutData, (std::int32_t card, const std::uint16_t* codes, std::int32_t count), (card, codes, count), -1) \
  X(0, std::int32_t, ZQ7_DA_TriggerChannel, (std::int32_t card, std::int32_t channel, std::int32_t code), (card, channel, code), -1) \
  X(0, std::int32_t, ZQ7_ReSynchronize, (), (), 0)
// clang-format on
