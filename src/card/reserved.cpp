// Entry points the library keeps for binary compatibility: a user timer, ICP
// settings, PWM and FM outputs, FFT, filter, PID and trigger entries, global
// trigger values, a debug number and the extension queries. Each accepts
// exactly its argument words (a caller's stack stays balanced under
// __stdcall) and returns at once: no card state, no latch, no driver call and
// nothing written through a pointer.
#include "frame/call.h"
#include "quorvex.h"

using namespace qvx;

int32_t QVX_CALL ProgramUserTimerFrequency(int32_t a1, int32_t a2) {
  Trace("begin ProgramUserTimerFrequency (%d, %d)", a1, a2);
  return kOk;
}

int32_t QVX_CALL StartUserTimer(int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL StopUserTimer(int32_t) {
  return kOk;
}
int32_t QVX_CALL SendICPSettings(int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL ShowDebugNumber(int32_t) {
  return kOk;
}
int32_t QVX_CALL GetHWExtensions(void*) {
  return kOk;
}
int32_t QVX_CALL GetSWExtensions(void*) {
  return kOk;
}
int32_t QVX_CALL PreparePWMOutput(int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL PrepareFMOutput(int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL WriteNewPWMRatio(int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL WriteNewFMRatio(int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL WriteNewPWMRatioEx(int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL WriteNewFMRatioEx(int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL GetFFTData(int32_t, void*) {
  return kOk;
}

// The only one that looks at an argument: its card number.
int32_t QVX_CALL PrepareFFTEntry(int32_t card, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t) {
  return CardInRange(card) ? kOk : kArgument;
}

int32_t QVX_CALL PrepareFilterEntry(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                    int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                    int32_t, int32_t, int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}

int32_t QVX_CALL PreparePIDEntry(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}

int32_t QVX_CALL PrepareTriggerEntry(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                     int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                     int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                     int32_t, int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}

int32_t QVX_CALL PrepareTriggerTakt(int32_t, int32_t, int32_t, int32_t, int32_t) {
  return kOk;
}
int32_t QVX_CALL SetGlobalTriggerValues(int32_t, int32_t, int32_t) {
  return kOk;
}
