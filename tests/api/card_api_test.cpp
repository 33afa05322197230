// Cards through the library as an application uses them: opening and
// closing, identification records and private flash, byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support.h"

namespace {

using qvx_test::CallLog;

int32_t Field(const unsigned char* record, std::size_t offset) {
  int32_t value;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

using ModuleInfoApi = qvx_test::SimTest;

TEST_F(ModuleInfoApi, RecordsOfTheStandardModule) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  kestro_sim_log_clear();
  unsigned char ex[sizeof(QvxFlashInfoEx)];
  std::memset(ex, 0xAA, sizeof ex);
  ASSERT_EQ(ReadFlashDataEx(0, reinterpret_cast<QvxFlashInfoEx*>(ex)), QVX_OK);
  EXPECT_STREQ(reinterpret_cast<char*>(ex), "KESTRO USB-AD16f");
  EXPECT_STREQ(reinterpret_cast<char*>(ex) + 32, "SN 02-004711");
  const int32_t fields[][2] = {{52, 16}, {56, 2},      {60, 4},  {64, 1},  {68, 4},
                               {72, 24}, {76, 1},      {80, 0},  {84, 1},  {88, 500000},
                               {92, 1},  {96, 500000}, {100, 2}, {264, 4}, {268, 1},
                               {272, 2}, {276, 4},     {280, 8}, {284, 0}};
  for (const auto& f : fields) EXPECT_EQ(Field(ex, f[0]), f[1]) << "offset " << f[0];
  for (int i = 104; i < 264; ++i) ASSERT_EQ(ex[i], 0xAA) << "offset " << i;

  // FlashInfo is the same first 84 bytes and nothing beyond them.
  unsigned char info[sizeof(QvxFlashInfo) + 4];
  std::memset(info, 0xAA, sizeof info);
  ASSERT_EQ(ReadFlashData(0, reinterpret_cast<QvxFlashInfo*>(info)), QVX_OK);
  EXPECT_EQ(std::memcmp(info, ex, sizeof(QvxFlashInfo)), 0);
  EXPECT_EQ(Field(info, 84), static_cast<int32_t>(0xAAAAAAAA));

  char name[200];
  ASSERT_EQ(GetCustomerName(0, name), QVX_OK);
  EXPECT_STREQ(name, "Quorvex Simulation Laboratory");
  EXPECT_EQ(kestro_sim_log_size(), 0u);  // all from the record read at open
}

TEST_F(ModuleInfoApi, PrivateFlashRoundTripAndCounts) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  unsigned char data[300], back[300];
  for (int i = 0; i < 300; ++i) data[i] = static_cast<unsigned char>(i * 7 + 1);
  std::memset(back, 0x11, sizeof back);
  kestro_sim_log_clear();
  EXPECT_EQ(WritePrivateFlash(0, data, 256), QVX_OK);
  EXPECT_EQ(ReadPrivateFlash(0, back, 1000), QVX_OK);  // shortened to 256
  EXPECT_EQ(CallLog(), (std::vector<std::string>{"ZQ7_WritePrivateFlash(0, ptr, 256)",
                                                 "ZQ7_ReadPrivateFlash(0, ptr, 256)"}));
  EXPECT_EQ(std::memcmp(back, data, 256), 0);
  EXPECT_EQ(back[256], 0x11);

  EXPECT_EQ(ClearPrivateFlash(0), QVX_OK);
  EXPECT_EQ(ReadPrivateFlash(0, back, 3), QVX_OK);
  EXPECT_EQ(back[0] & back[1] & back[2], 0xFF);
  kestro_sim_fail("ZQ7_WritePrivateFlash", -1, 1);
  EXPECT_EQ(WritePrivateFlash(0, data, 1), QVX_OK);  // the driver's result is not read

  EXPECT_EQ(WritePrivateFlash(0, data, 1000), QVX_ARGUMENT);
  EXPECT_EQ(ReadPrivateFlash(0, back, 1), QVX_FAILURE);  // latched
}

using LifecycleApi = qvx_test::SimTest;

// One worker per open card, also when a card is opened again; closing joins
// it, and many open/close cycles leave no thread and no handle behind. The
// thread count is unknown under Wine (-1), where only the handles count.
TEST_F(LifecycleApi, WorkersEndWithTheirCards) {
#if defined(__linux__)
  const auto threads = [] { return qvx_test::ProcStatus("Threads:"); };
#else
  const auto threads = [] { return int64_t{-1}; };  // Wine's /proc does not count them
#endif
  // The sanitizers start helper threads of their own on first use.
  ASSERT_EQ(qvx_test::All({OpenCard(15), CloseCard(15)}), QVX_OK);
  const int64_t before = threads();
  ASSERT_EQ(qvx_test::All({OpenCard(0), OpenCard(1), OpenCard(1)}), QVX_OK);
  EXPECT_EQ(threads(), before < 0 ? before : before + 2);
  const uint32_t opens = kestro_sim_call_count("ZQ7_CreateSimpleHandle");
  kestro_sim_log_enable(0);
  const int cycles = qvx_test::kSanitized ? 300 : 1000;
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(OpenCard(i % QVX_MAX_CARDS), QVX_OK);
    ASSERT_EQ(CloseCard(i % QVX_MAX_CARDS), QVX_OK);
  }
  EXPECT_EQ(kestro_sim_call_count("ZQ7_CreateSimpleHandle"), opens + static_cast<uint32_t>(cycles));
  // A joined thread may stay listed for a moment.
  EXPECT_TRUE(qvx_test::WaitFor([&] { return threads() == before; })) << threads();
}

// An open asks the driver in this order. A failed open latches its card and
// leaves the current card as it was; so does a close.
TEST_F(LifecycleApi, OpensAskTheDriverInOrderAndKeepTheCurrentCardOnFailure) {
  ASSERT_EQ(OpenCard(3), QVX_OK);
  const std::vector<std::string> log = qvx_test::CallLog();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"ZQ7_CreateSimpleHandle(3)", "ZQ7_SwitchCard(3)",
                                      "ZQ7_ReadNewFlash(3)"}));
  EXPECT_EQ(log[3].rfind("ZQ7_Get_ModuleIdent(3,", 0), 0u) << log[3];
  const auto current = [] {
    EXPECT_EQ(PutOneChannel(0, 0, 1.0), QVX_OK);
    const std::string call = qvx_test::CallLog().back();
    return call.substr(0, call.find(','));
  };
  ASSERT_EQ(kestro_sim_set_module(4, KESTRO_SIM_ABSENT), 0);
  EXPECT_EQ(OpenCard(4), QVX_FAILURE);
  EXPECT_EQ(current(), "ZQ7_DA_TriggerChannel(3");
  ASSERT_EQ(kestro_sim_set_module(4, KESTRO_SIM_STANDARD), 0);
  EXPECT_EQ(SwitchCard(4), QVX_FAILURE);  // latched
  EXPECT_EQ(qvx_test::All({OpenCard(4), CloseCard(3)}), QVX_OK);
  EXPECT_EQ(qvx_test::CallLog().back(), "ZQ7_CloseSimpleHandle(3)");
  EXPECT_EQ(current(), "ZQ7_DA_TriggerChannel(4");
}

}  // namespace
