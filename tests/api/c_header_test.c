/* The public header compiles as C, and a C program can open and close a
 * card of the simulated module through it. */
#include <stdio.h>

#include "quorvex.h"

int main(void) {
  int32_t status = OpenCard(0);
  if (status != QVX_OK) {
    printf("OpenCard(0) returned %d\n", (int)status);
    return 1;
  }
  if (CloseCard(0) != QVX_OK || LoadCard(16) != QVX_ARGUMENT) return 1;
  printf("C interface ok\n");
  return 0;
}
