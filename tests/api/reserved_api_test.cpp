// The reserved entry points only answer: no driver, no latch, no memory.
#include <gtest/gtest.h>

#include <cstring>

#include "support.h"

namespace {

using ReservedApi = qvx_test::SimTest;

TEST_F(ReservedApi, AnswerOnALatchedCardAndLeaveEverythingAlone) {
  ASSERT_EQ(OpenCard(0), QVX_OK);
  ASSERT_EQ(PutOneChannel(99, 0, 0.0), QVX_ARGUMENT);  // latches card 0
  kestro_sim_log_clear();
  unsigned char memory[64];
  std::memset(memory, 0x5A, sizeof memory);
  const int32_t results[] = {
      ProgramUserTimerFrequency(0, 1000),
      StartUserTimer(0, 1),
      StopUserTimer(0),
      SendICPSettings(0, 1),
      ShowDebugNumber(42),
      GetHWExtensions(memory),
      GetSWExtensions(memory),
      PreparePWMOutput(0, 1, 2),
      PrepareFMOutput(0, 1, 2),
      WriteNewPWMRatio(0, 1, 2),
      WriteNewFMRatio(0, 1, 2),
      WriteNewPWMRatioEx(0, 1, 2, 3),
      WriteNewFMRatioEx(0, 1, 2, 3),
      GetFFTData(0, memory),
      PrepareFFTEntry(0, 1, 2, 3, 4, 5, 6, 7),
      PrepareFilterEntry(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19),
      PreparePIDEntry(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17),
      PrepareTriggerEntry(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                          21, 22, 23, 24, 25),
      PrepareTriggerTakt(0, 1, 2, 3, 4),
      SetGlobalTriggerValues(0, 1, 2),
  };
  for (std::size_t i = 0; i < sizeof results / sizeof results[0]; ++i) {
    EXPECT_EQ(results[i], QVX_OK) << "entry " << i;
  }
  for (unsigned char byte : memory) ASSERT_EQ(byte, 0x5A);
  EXPECT_EQ(kestro_sim_log_size(), 0u);
  EXPECT_EQ(PutOneChannel(0, 0, 0.0), QVX_FAILURE);  // still latched
}

}  // namespace
