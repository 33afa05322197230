// Identification records and private flash, byte by byte, through
// the library as an application uses it.
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

}  // namespace
