// Tests of the simulated module's own model, through its exports as the
// library sees them. Nothing here depends on the clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "frame/driver_api.h"
#include "kestro_sim.h"

extern "C" {
#define DECLARE_ENTRY(required, result, name, params, args, missing) result KESTRO_CALL name params;
QVX_DRIVER_ENTRIES(DECLARE_ENTRY)
#undef DECLARE_ENTRY
}

namespace {

class Sim : public ::testing::Test {
 protected:
  void SetUp() override { kestro_sim_reset(); }
  void TearDown() override { kestro_sim_reset(); }
};

std::string LogEntry(uint32_t index) {
  char text[256];
  return kestro_sim_log_entry(index, text, sizeof text) >= 0 ? text : "<none>";
}

template <class R>
bool SameBytes(const R& a, const R& b) {
  return std::memcmp(&a, &b, sizeof(R)) == 0;
}

// Calls an entry point on `card` with every other argument zero or null.
template <class R, class... P>
R CallOn(R(KESTRO_CALL* entry)(std::int32_t, P...), std::int32_t card) {
  return entry(card, P{}...);
}
template <class R>
R CallOn(R(KESTRO_CALL* entry)(), std::int32_t) {
  return entry();
}

int ByteAt(const qvx::KestroModuleInfo& record, int offset) {
  return record.bytes[offset];
}
std::string TextAt(const qvx::KestroModuleInfo& record, int offset, int field) {
  const char* text = reinterpret_cast<const char*>(record.bytes + offset);
  return std::string(text, strnlen(text, field));
}

TEST_F(Sim, InjectedResultsCountDownOrStayUntilCleared) {
  ASSERT_EQ(kestro_sim_fail("ZQ7_AD_Start", -7, 2), 0);
  EXPECT_EQ(ZQ7_AD_Start(0), -7);
  EXPECT_EQ(ZQ7_AD_Start(1), -7);  // any card
  EXPECT_EQ(ZQ7_AD_Start(0), 0);

  kestro_sim_fail("ZQ7_AD_Stop", -3, -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(ZQ7_AD_Stop(0), -3);
  kestro_sim_fail("ZQ7_AD_Stop", 0, 0);
  EXPECT_EQ(ZQ7_AD_Stop(0), 0);

  // A record cannot carry a result: the call fails with a zero record.
  kestro_sim_fail("ZQ7_ReadNewFlash", 1, 1);
  EXPECT_EQ(ByteAt(ZQ7_ReadNewFlash(0), 140), 0);
  EXPECT_EQ(ByteAt(ZQ7_ReadNewFlash(0), 140), 16);

  kestro_sim_fail("ZQ7_IsHiSpeed", 9, -1);
  kestro_sim_delay("ZQ7_IsHiSpeed", 0);
  kestro_sim_clear_faults();
  EXPECT_EQ(ZQ7_IsHiSpeed(0), 0);

  EXPECT_EQ(kestro_sim_fail("ZQ7_NoSuchEntry", 0, 1), -1);
  EXPECT_EQ(kestro_sim_delay(nullptr, 5), -1);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_NoSuchEntry"), 0u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_AD_Start"), 3u);  // injected calls count too
  EXPECT_STREQ(kestro_sim_entry_name(0), "ZQ7_CreateSimpleHandle");
  EXPECT_EQ(kestro_sim_entry_name(KESTRO_SIM_ENTRY_COUNT), nullptr);
}

TEST_F(Sim, CallLogFormatsEveryArgumentKind) {
  uint32_t ident = 0;
  ZQ7_AD_AddChannellist(0, 3, 1, 0);
  ZQ7_AD_SetFrequency(1, 2500.5);
  ZQ7_Get_ModuleIdent(0, nullptr);
  ZQ7_Get_ModuleIdent(0, &ident);
  ZQ7_TTL_PutChannel(-1, 16, 0xFFFFFFFFu);
  ZQ7_ReSynchronize();
  ZQ7_ConfigureCounterInputEx(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -10, -2147483647 - 1);
  ASSERT_EQ(kestro_sim_log_size(), 7u);
  EXPECT_EQ(LogEntry(0), "ZQ7_AD_AddChannellist(0, 3, 1, 0)");
  EXPECT_EQ(LogEntry(1), "ZQ7_AD_SetFrequency(1, 2500.5)");
  EXPECT_EQ(LogEntry(2), "ZQ7_Get_ModuleIdent(0, null)");
  EXPECT_EQ(LogEntry(3), "ZQ7_Get_ModuleIdent(0, ptr)");
  EXPECT_EQ(LogEntry(4), "ZQ7_TTL_PutChannel(-1, 16, 4294967295)");
  EXPECT_EQ(LogEntry(5), "ZQ7_ReSynchronize()");
  EXPECT_EQ(LogEntry(6),
            "ZQ7_ConfigureCounterInputEx(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, -10, -2147483648)");

  char cut[5];
  EXPECT_EQ(kestro_sim_log_entry(0, cut, sizeof cut), 33);
  EXPECT_STREQ(cut, "ZQ7_");
  EXPECT_EQ(kestro_sim_log_entry(7, cut, sizeof cut), -1);
}

TEST_F(Sim, CallLogKeepsTheNewestEntriesAndCanBeSwitchedOff) {
  for (int i = 0; i < KESTRO_SIM_LOG_CAPACITY + 4; ++i) ZQ7_SwitchCard(i);
  ASSERT_EQ(kestro_sim_log_size(), uint32_t{KESTRO_SIM_LOG_CAPACITY});
  EXPECT_EQ(LogEntry(0), "ZQ7_SwitchCard(4)");
  EXPECT_EQ(LogEntry(KESTRO_SIM_LOG_CAPACITY - 1), "ZQ7_SwitchCard(4099)");

  kestro_sim_log_clear();
  kestro_sim_log_enable(0);
  ZQ7_SwitchCard(0);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_SwitchCard"), uint32_t{KESTRO_SIM_LOG_CAPACITY + 5});
  kestro_sim_reset();  // also switches logging back on
  ZQ7_SwitchCard(0);
  EXPECT_EQ(kestro_sim_log_size(), 1u);
}

TEST_F(Sim, CountsAndInjectionsHoldUnderConcurrentCalls) {
  constexpr int kThreads = 4;
  constexpr int kCalls = 2000;
  kestro_sim_fail("ZQ7_IsHiSpeed", 5, 100);
  std::vector<int> injected(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &injected] {
      for (int i = 0; i < kCalls; ++i) {
        if (ZQ7_IsHiSpeed(t) == 5) ++injected[t];
        ZQ7_DA_TriggerChannel(t, 0, i);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  int total = 0;
  for (int count : injected) total += count;
  EXPECT_EQ(total, 100);
  EXPECT_EQ(kestro_sim_call_count("ZQ7_IsHiSpeed"), uint32_t{kThreads * kCalls});
  EXPECT_EQ(kestro_sim_log_size(), uint32_t{KESTRO_SIM_LOG_CAPACITY});
}

struct Expected {
  int module;
  uint32_t type;
  int inputs, rate_khz, outputs, lines, counters, ttl_in, ttl_out, hi_speed;
  const char* text1;
};

TEST_F(Sim, EachModuleReportsItsCatalogueFigures) {
  const Expected modules[] = {
      {KESTRO_SIM_STANDARD, 2, 16, 500, 4, 24, 4, 12, 12, 0, "KESTRO USB-AD16f"},
      {KESTRO_SIM_COUNTER, 9, 4, 100, 2, 16, 8, 16, 16, 0, "KESTRO USB-CT8 Counter"},
      {KESTRO_SIM_STRICT, 12, 8, 100, 2, 16, 2, 16, 16, 0, "KESTRO USB-AD8 Precision"},
      {KESTRO_SIM_HISPEED, 15, 16, 4000, 4, 24, 4, 12, 12, 1,
       "KESTRO USB-AD16-HS 4MS/s HIGH SPE"},  // fills its 33 bytes
      {KESTRO_SIM_TTL_IN4, 2, 16, 500, 4, 24, 4, 4, 20, 0, "KESTRO USB-AD16f DI4"},
      {KESTRO_SIM_TTL_IN8, 2, 16, 500, 4, 24, 4, 8, 16, 0, "KESTRO USB-AD16f DI8"},
  };
  for (const Expected& e : modules) {
    SCOPED_TRACE(kestro_sim_module_name(e.module));
    ASSERT_EQ(kestro_sim_set_module(3, e.module), 0);
    ASSERT_EQ(ZQ7_CreateSimpleHandle(3), 1);
    EXPECT_EQ(kestro_sim_is_open(3), 1);
    uint32_t type = 0;
    EXPECT_EQ(ZQ7_Get_ModuleIdent(3, &type), 0);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(ZQ7_IsHiSpeed(3), e.hi_speed);
    EXPECT_EQ(ZQ7_GetNumOfTTLIn(3), e.ttl_in);
    EXPECT_EQ(ZQ7_GetNumOfTTLOut(3), e.ttl_out);
    const qvx::KestroModuleInfo record = ZQ7_ReadNewFlash(3);
    EXPECT_EQ(ByteAt(record, 140), e.inputs);
    EXPECT_EQ(ByteAt(record, 142) | ByteAt(record, 143) << 8, e.rate_khz);
    EXPECT_EQ(ByteAt(record, 144), e.outputs);
    EXPECT_EQ(ByteAt(record, 148), e.lines);
    EXPECT_EQ(ByteAt(record, 156), e.counters);
    EXPECT_EQ(TextAt(record, 264, 33), e.text1);
    EXPECT_EQ(TextAt(record, 297, 21).substr(0, 3), "SN ");
    EXPECT_FALSE(TextAt(record, 318, 128).empty());
    EXPECT_EQ(ZQ7_CloseSimpleHandle(3), 1);
    EXPECT_EQ(kestro_sim_is_open(3), 0);
  }
  kestro_sim_set_module(3, KESTRO_SIM_STRICT);
  EXPECT_EQ(static_cast<int8_t>(ByteAt(ZQ7_ReadNewFlash(3), 141)), -1);
  kestro_sim_set_module(3, KESTRO_SIM_COUNTER);
  EXPECT_EQ(TextAt(ZQ7_ReadNewFlash(3), 318, 128).size(), 60u);

  EXPECT_EQ(kestro_sim_module_from_name("ttl8"), KESTRO_SIM_TTL_IN8);
  EXPECT_EQ(kestro_sim_module_from_name("TTL8"), -1);
  EXPECT_STREQ(kestro_sim_module_name(KESTRO_SIM_MODULE_COUNT), "");
  EXPECT_EQ(kestro_sim_set_module(3, KESTRO_SIM_MODULE_COUNT), -1);
  EXPECT_EQ(kestro_sim_set_module(16, KESTRO_SIM_STANDARD), -1);
}

TEST_F(Sim, BadCardsAndAbsentModulesFailEveryEntryPointSafely) {
  kestro_sim_set_module(2, KESTRO_SIM_ABSENT);
  for (int32_t card : {-1, 16, 1000000, 2}) {
    SCOPED_TRACE(card);
#define EXPECT_FAILURE(required, result, name, params, args, missing)      \
  if (card != 2 || std::strcmp(#name, "ZQ7_SwitchCard") != 0) {            \
    EXPECT_TRUE(SameBytes<result>(CallOn(&name, card), missing)) << #name; \
  }
    QVX_DRIVER_ENTRIES(EXPECT_FAILURE)
#undef EXPECT_FAILURE
  }
  EXPECT_EQ(ZQ7_SwitchCard(2), 0);
  EXPECT_EQ(ZQ7_SwitchCard(15), 0);
  EXPECT_EQ(kestro_sim_is_open(2), 0);
}

TEST_F(Sim, PrivateFlashOutlivesHandlesAndModulesUntilReset) {
  uint8_t bytes[300];
  ASSERT_EQ(kestro_sim_read_private_flash(1, bytes, 300), 256);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(bytes[i], 0xFF);

  for (int i = 0; i < 300; ++i) bytes[i] = static_cast<uint8_t>(i);
  EXPECT_EQ(ZQ7_WritePrivateFlash(1, bytes, 300), 0);  // only 256 kept
  EXPECT_EQ(ZQ7_WritePrivateFlash(1, bytes, 0), -1);
  EXPECT_EQ(ZQ7_WritePrivateFlash(1, nullptr, 4), -1);
  ZQ7_CreateSimpleHandle(1);
  ZQ7_CloseSimpleHandle(1);
  kestro_sim_set_module(1, KESTRO_SIM_HISPEED);

  uint8_t back[300] = {};
  EXPECT_EQ(ZQ7_ReadPrivateFlash(1, back, 300), 0);
  EXPECT_EQ(std::memcmp(back, bytes, 256), 0);
  EXPECT_EQ(back[256], 0);  // nothing beyond 256
  uint8_t other[4];
  ZQ7_ReadPrivateFlash(0, other, 4);
  EXPECT_EQ(other[0], 0xFF);  // flash is per card

  EXPECT_EQ(ZQ7_ClearPrivateFlash(1), 0);
  ZQ7_ReadPrivateFlash(1, back, 256);
  EXPECT_EQ(back[0], 0xFF);
  EXPECT_EQ(back[255], 0xFF);

  kestro_sim_write_private_flash(1, bytes, 8);
  kestro_sim_reset();
  kestro_sim_read_private_flash(1, back, 8);
  EXPECT_EQ(back[7], 0xFF);
}

TEST_F(Sim, ConversionsTruncateVoltsAndPassLoopedBackCodesUnchanged) {
  const struct {
    double volts;
    int code;
  } cases[] = {{2.5, 40960},  {0.0, 32768},  {1.0, 36044}, {-10.0, 0},
               {10.0, 65535}, {12.0, 65535}, {-12.0, 0},   {-0.5, 31129}};
  for (const auto& c : cases) {
    kestro_sim_set_signal(0, 7, KESTRO_SIM_SIGNAL_DC, 0.0, c.volts, 0.0);
    EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 7, 0, 0), c.code) << c.volts << " V";
  }

  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 3, 0, 0), 32768);  // output 3 at power-on
  EXPECT_EQ(ZQ7_DA_TriggerChannel(0, 3, 12345), 0);
  EXPECT_EQ(kestro_sim_da_code(0, 3), 12345);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 3, 0, 0), 12345);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 4, 0, 0), 32768);  // DC 0 V
  ASSERT_EQ(kestro_sim_set_analog_loopback(0, 9, 3), 0);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 9, 0, 0), 12345);

  EXPECT_EQ(ZQ7_DA_TriggerChannel(0, 4, 0), -1);
  EXPECT_EQ(ZQ7_DA_TriggerChannel(0, 0, 65536), -1);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 16, 0, 0), -1);
  EXPECT_EQ(kestro_sim_set_analog_loopback(0, 9, 4), -1);
  EXPECT_EQ(kestro_sim_set_signal(0, 1, KESTRO_SIM_SIGNAL_LOOPBACK, 0, 0, 0), -1);
}

TEST_F(Sim, DifferentialChannelsReadEvenMinusOddInput) {
  ZQ7_DA_TriggerChannel(0, 0, 40960);  // 2.5 V
  ZQ7_DA_TriggerChannel(0, 1, 24576);  // -2.5 V
  kestro_sim_set_signal(0, 2, KESTRO_SIM_SIGNAL_DC, 0.0, 1.5, 0.0);
  kestro_sim_set_signal(0, 3, KESTRO_SIM_SIGNAL_DC, 0.0, 2.0, 0.0);
  EXPECT_EQ(ZQ7_SetDifferenz(0, 2), -1);
  ASSERT_EQ(ZQ7_SetDifferenz(0, 1), 0);
  EXPECT_EQ(kestro_sim_differential(0), 1);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 0, 0, 0), 49152);  // 5 V
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 1, 0, 0), 31129);  // -0.5 V
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 7, 0, 0), 32768);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 8, 0, 0), -1);
  ZQ7_SetDifferenz(0, 0);
  EXPECT_EQ(ZQ7_AD_TriggerChannel(0, 8, 0, 0), 32768);
}

TEST_F(Sim, PeriodicSignalsFollowTheirShapeAndNoiseRepeats) {
  kestro_sim_set_signal(0, 8, KESTRO_SIM_SIGNAL_SINE, 5.0, 0.0, 1.0);
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.25), 49152);
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.75), 16384);
  kestro_sim_set_signal(0, 8, KESTRO_SIM_SIGNAL_SQUARE, 2.0, 1.0, 10.0);
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.01), 42598);  // 3 V
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.06), 29491);  // -1 V
  kestro_sim_set_signal(0, 8, KESTRO_SIM_SIGNAL_RAMP, 4.0, 0.0, 2.0);
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.125), 26214);  // -2 V, a quarter up
  EXPECT_EQ(kestro_sim_signal_code(0, 8, 0.375), 39321);  // +2 V
  EXPECT_EQ(kestro_sim_signal_code(0, 16, 0.0), -1);

  auto draw = [] {
    kestro_sim_set_signal(0, 8, KESTRO_SIM_SIGNAL_NOISE, 1.0, 0.0, 0.0);
    std::vector<int> codes;
    for (int i = 0; i < 200; ++i) {
      const int next = kestro_sim_signal_code(0, 8, 0.0);
      codes.push_back(ZQ7_AD_TriggerChannel(0, 8, 0, 0));
      EXPECT_EQ(codes.back(), next);
    }
    return codes;
  };
  const std::vector<int> first = draw();
  EXPECT_EQ(draw(), first);
  int low = 65535, high = 0;
  for (int code : first) {
    low = std::min(low, code);
    high = std::max(high, code);
  }
  EXPECT_GE(low, 29491);
  EXPECT_LE(high, 36044);
  EXPECT_GT(high - low, 3000);  // spread over most of +-1 V
}

TEST_F(Sim, PortWordsMixOutputLatchesInputLevelsAndLoopBack) {
  for (int line = 0; line < 4; ++line) ASSERT_EQ(ZQ7_TTL_SetDirection(0, line, 1), 0);
  EXPECT_EQ(ZQ7_TTL_SetDirection(0, 24, 1), -1);
  EXPECT_EQ(ZQ7_TTL_SetDirection(0, 5, 2), -1);
  EXPECT_EQ(kestro_sim_digital_direction(0, 3), 1);
  EXPECT_EQ(kestro_sim_digital_direction(0, 4), 0);

  EXPECT_EQ(ZQ7_TTL_PutChannel(0, 7, 0xFFFF), 0);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0xFFFF);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 9), 0x000Fu);  // only outputs show latches
  kestro_sim_set_digital_input_word(0, 0, 0xFF0F);
  kestro_sim_set_digital_input(0, 4, 1);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 0), 0xFF1Fu);  // input bits 0..3 hidden by outputs

  ZQ7_TTL_PutChannel(0, 0, 0x0002);
  ASSERT_EQ(kestro_sim_set_digital_loopback(0, 6, 1), 0);
  ASSERT_EQ(kestro_sim_set_digital_loopback(0, 8, 0), 0);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 0), 0xFE52u);  // line 6 = latch 1, line 8 = latch 0
  kestro_sim_set_digital_loopback(0, 6, -1);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 0), 0xFE12u);

  // The second group has 8 lines on a 24-line module.
  ZQ7_TTL_SetDirection(0, 16, 1);
  EXPECT_EQ(ZQ7_TTL_PutChannel(0, 23, 0xFFFF), 0);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 1), 0x00FF);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 20), 0x0001u);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 24), 0u);
  EXPECT_EQ(ZQ7_TTL_PutChannel(0, 24, 1), -1);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 2), -1);
}

TEST_F(Sim, DedicatedInputBitsSitBelowThePortWord) {
  kestro_sim_set_module(0, KESTRO_SIM_TTL_IN8);
  kestro_sim_set_dedicated_inputs(0, 0x1A5);  // bit 8 is beyond the 8 inputs
  ZQ7_TTL_SetDirection(0, 0, 1);
  ZQ7_TTL_PutChannel(0, 0, 0x0001);
  EXPECT_EQ(kestro_sim_digital_output_word(0, 0), 0x0001);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 0), 0x01A5u);

  kestro_sim_set_module(0, KESTRO_SIM_TTL_IN4);
  kestro_sim_set_dedicated_inputs(0, 0x3);
  kestro_sim_set_digital_input(0, 17, 1);
  EXPECT_EQ(ZQ7_TTL_Getchannel(0, 16), (0x2u << 4) | 0x3u);
}

TEST_F(Sim, SettingsTheLibraryPassesAreRecorded) {
  EXPECT_EQ(ZQ7_AD_AddChannellist(0, 5, 2, 0), 0);
  EXPECT_EQ(ZQ7_AD_AddChannellist(0, 15, 1, 0), 0);
  EXPECT_EQ(ZQ7_AD_AddChannellist(0, 16, 1, 0), -1);
  int32_t channel = 0, range = 0, zero = -1;
  ASSERT_EQ(kestro_sim_ad_list_length(0), 2);
  EXPECT_EQ(kestro_sim_ad_list_entry(0, 1, &channel, &range, &zero), 0);
  EXPECT_EQ(channel * 100 + range * 10 + zero, 1510);
  EXPECT_EQ(kestro_sim_ad_list_entry(0, 2, nullptr, nullptr, nullptr), -1);
  EXPECT_EQ(ZQ7_AD_ClearChannelList(0), 1);
  EXPECT_EQ(kestro_sim_ad_list_length(0), 0);

  EXPECT_EQ(ZQ7_AD_SetFrequency(0, 0.0), -1);
  EXPECT_EQ(ZQ7_AD_SetFrequency(0, 500001.0), -1);
  EXPECT_EQ(ZQ7_AD_SetFrequency(0, 1234.5), 0);
  EXPECT_EQ(kestro_sim_ad_frequency(0), 1234.5);

  EXPECT_EQ(ZQ7_SetMasterSlave(0, 3), -1);
  EXPECT_EQ(ZQ7_SetMasterSlave(0, 2), 0);
  EXPECT_EQ(kestro_sim_master_slave(0), 2);

  int32_t value = 0;
  EXPECT_EQ(kestro_sim_register(0, 0x30, &value), -1);
  EXPECT_EQ(WriteAlteraValue(0, 0x30, 7), 1);
  EXPECT_EQ(WriteAlteraValue(0, 0x30, 9), 1);
  EXPECT_EQ(kestro_sim_register(0, 0x30, &value), 0);
  EXPECT_EQ(value, 9);
  EXPECT_EQ(ReadAlteraValue(0, 0x30), 9);

  int32_t flags[3] = {};
  EXPECT_EQ(kestro_sim_start_extern(0, flags), 0);
  ZQ7_Start_Extern(0, 1, 0, 1);
  EXPECT_EQ(kestro_sim_start_extern(0, flags), 1);
  EXPECT_EQ(flags[0] * 100 + flags[1] * 10 + flags[2], 101);

  int32_t values[10] = {};
  EXPECT_EQ(ZQ7_ConfigureCounterInputEx(0, 3, 1, 2, 0, 0, 3, 4, 6, 7, 8, 9), 0);
  EXPECT_EQ(ZQ7_ConfigureCounterInput(0, 4, 1, 2, 3, 4, 5, 6, 7, 8), -1);  // 4 counters
  EXPECT_EQ(kestro_sim_counter_config(0, 3, values), 2);
  EXPECT_EQ(values[9], 9);

  ZQ7_DA_AddChannellist(0, 1);
  ZQ7_DA_AddChannellist(0, 3);
  EXPECT_EQ(ZQ7_DA_AddChannellist(0, 4), -1);
  ZQ7_CT_AddChannelList(0, 2);
  ZQ7_TTL_AddChannelList(0, 23);
  int32_t entries[4] = {};
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_DA, entries, 4), 2);
  EXPECT_EQ(entries[1], 3);
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_CT, entries, 4), 1);
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_TTL, entries, 4), 1);
  EXPECT_EQ(entries[0], 23);

  const qvx::KestroDaStatus status = ZQ7_DA_GetStatus(0);
  EXPECT_EQ(status.word[0], 0);
  EXPECT_EQ(status.word[1], 1024);
  EXPECT_EQ(status.word[14], 1);

  kestro_sim_set_module(0, KESTRO_SIM_STANDARD);  // power-on forgets all of it
  EXPECT_EQ(kestro_sim_master_slave(0), 0);
  EXPECT_EQ(kestro_sim_list_entries(0, KESTRO_SIM_LIST_DA, nullptr, 0), 0);
}

// ctest starts this program with KESTRO_SIM_MODULES naming cards 13 and 14
// and two bad items.
TEST_F(Sim, EnvironmentChoosesInitialModules) {
  if (std::getenv("KESTRO_SIM_MODULES") == nullptr) GTEST_SKIP() << "KESTRO_SIM_MODULES unset";
  EXPECT_EQ(kestro_sim_get_module(13), KESTRO_SIM_HISPEED);
  EXPECT_EQ(kestro_sim_get_module(14), KESTRO_SIM_TTL_IN8);
  EXPECT_EQ(kestro_sim_get_module(15), KESTRO_SIM_STANDARD);
  kestro_sim_set_module(13, KESTRO_SIM_ABSENT);
  EXPECT_EQ(ZQ7_CreateSimpleHandle(13), 0);
  kestro_sim_reset();
  EXPECT_EQ(ZQ7_IsHiSpeed(13), 1);
}

}  // namespace
