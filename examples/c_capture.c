/* c_capture.c - a continuous capture through the C interface.
 *
 * Opens card 0, captures analog inputs 0 and 1 at 1000 scans per second for
 * half a second and prints the mean of each input. With the simulated
 * module of a Quorvex build, inputs 0 and 1 follow analog outputs 0 and 1,
 * which this program sets to 1.5 V and -0.75 V first.
 *
 * Every call returns a status code; quorvex_status.h names them.
 */
#if !defined(_WIN32)
#define _POSIX_C_SOURCE 199309L /* nanosleep */
#endif
#include <stdio.h>

#include "quorvex.h"
#include "quorvex_status.h"

#if defined(_WIN32)
#include <windows.h>
static void SleepMs(int ms) {
  Sleep((DWORD)ms);
}
#else
#include <time.h>
static void SleepMs(int ms) {
  struct timespec t = {0, ms * 1000000L};
  nanosleep(&t, NULL);
}
#endif

/* Prints a failed call and says whether it failed. */
static int Failed(int32_t status, const char* call) {
  if (status == QVX_OK) return 0;
  fprintf(stderr, "%s returned %d (%s): %s\n", call, (int)status, QvxStatusName(status),
          QvxStatusMessage(status));
  return 1;
}

int main(void) {
  enum { kInputs = 2, kScans = 500 };
  static double values[kScans * kInputs];
  double sum[kInputs] = {0.0, 0.0};
  int32_t read = 0;
  int tries = 0;
  int k;

  if (Failed(OpenCard(0), "OpenCard")) return 1;
  if (Failed(PutOneChannel(0, 0, 1.5), "PutOneChannel") ||
      Failed(PutOneChannel(1, 0, -0.75), "PutOneChannel") ||
      Failed(ClearChannelLists(), "ClearChannelLists") ||
      Failed(Add_AD_Channel_to_ScanList(0, 0, 0, 0), "Add_AD_Channel_to_ScanList") ||
      Failed(Add_AD_Channel_to_ScanList(1, 0, 0, 0), "Add_AD_Channel_to_ScanList") ||
      Failed(SetADFrequency(1000), "SetADFrequency") || Failed(FinalInit(), "FinalInit") ||
      Failed(StartADCapture(), "StartADCapture")) {
    CloseCard(0);
    return 1;
  }
  /* Drain what waits until kScans scans are in; give up after 5 s. */
  while (read < kScans && tries++ < 500) {
    int32_t count = kScans - read;
    if (Failed(GetScaledData(0, values + read * kInputs, &count, 0), "GetScaledData")) break;
    read += count;
    if (read < kScans) SleepMs(10);
  }
  StopADCapture();
  CloseCard(0);
  if (read < kScans) return 1;

  for (k = 0; k < kScans * kInputs; ++k) sum[k % kInputs] += values[k];
  for (k = 0; k < kInputs; ++k)
    printf("ai%d mean %.4f V over %d scans\n", k, sum[k] / kScans, kScans);
  return 0;
}
