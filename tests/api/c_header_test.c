// The public header compiles as C on its own (the C example, run as a test
// too, opens and closes a card through it), and LoadCard checks the card
// number it is given.
#include "quorvex.h"

int main(void) {
  const int cards_checked = LoadCard(0) == QVX_OK && LoadCard(15) == QVX_OK &&
                            LoadCard(16) == QVX_ARGUMENT && LoadCard(-1) == QVX_ARGUMENT;
  return cards_checked ? 0 : 1;
}
