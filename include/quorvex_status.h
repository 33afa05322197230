/*
 * quorvex_status.h - the status codes of the Quorvex library, each with its
 * symbolic name and a readable message.
 *
 * QVX_STATUS_TABLE holds one entry per line, QVX_STATUS(code, "NAME",
 * "message"); the C++ interface (quorvex.hpp), the qvx tool and the language
 * bindings all take their messages from it. Expand it with a macro of your
 * own, for example
 *
 *   #define MY_CASE(code, name, text) case code: return text;
 *   switch (status) { QVX_STATUS_TABLE(MY_CASE) }
 *
 * Codes 10, 11 and 12 are results of GetMemoryMeasurementStatus, not
 * failures. Every other function returns 0, 1 or 2.
 */
#ifndef QUORVEX_STATUS_H
#define QUORVEX_STATUS_H

/* clang-format off */
#define QVX_STATUS_TABLE(QVX_STATUS) \
  QVX_STATUS(0, "QVX_OK", "success") \
  QVX_STATUS(1, "QVX_FAILURE", "the driver reported a failure, or the card's error latch was set") \
  QVX_STATUS(2, "QVX_ARGUMENT", "an argument is out of range (card, channel, count, mode, rate or null pointer)") \
  QVX_STATUS(10, "QVX_MEM_TARGET_PASSED", "the memory measurement runs and has passed its target") \
  QVX_STATUS(11, "QVX_MEM_NOT_RUNNING", "no acquisition runs on the card") \
  QVX_STATUS(12, "QVX_MEM_RUNNING", "the memory measurement runs and has not passed its target")
/* clang-format on */

/* The message of a status code; "unknown status code" for any other value. */
static inline const char* QvxStatusMessage(int status) {
#define QVX_STATUS_MESSAGE_CASE(code, name, text) \
  case code:                                      \
    return text;
  switch (status) { QVX_STATUS_TABLE(QVX_STATUS_MESSAGE_CASE) }
#undef QVX_STATUS_MESSAGE_CASE
  return "unknown status code";
}

/* The symbolic name of a status code ("QVX_FAILURE"); "" for any other value. */
static inline const char* QvxStatusName(int status) {
#define QVX_STATUS_NAME_CASE(code, name, text) \
  case code:                                   \
    return name;
  switch (status) { QVX_STATUS_TABLE(QVX_STATUS_NAME_CASE) }
#undef QVX_STATUS_NAME_CASE
  return "";
}

#endif /* QUORVEX_STATUS_H */
