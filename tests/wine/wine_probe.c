/* The smallest Windows program of ours: that Wine runs it and it prints this
   token is the evidence that this machine can run the Windows tests. */
#include <stdio.h>

int main(void) {
  puts("tenvora-wine-probe-ok");
  return 0;
}
