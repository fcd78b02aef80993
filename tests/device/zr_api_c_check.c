/* Compiles the exported header as C11 and checks what a C caller relies on. */
#include <stdio.h>

#include "zr_api.h"

int main(void) {
  DeviceContext* context = NULL;
  ChannelHandle handles[2] = {{&context, 0}, {&context, 1}};
  const size_t stride = (size_t)((const char*)&handles[1] - (const char*)&handles[0]);
  if (stride != sizeof(ChannelHandle) || handles[1].index != 1) {
    puts("ChannelHandle layout differs");
    return 1;
  }
  if (ZR_CLAMPED != 98 || ZR_TRANSPORT_FAILED != -8 || ZR_NO_BUS != -1 ||
      ZR_RF_CAL_MISSING != -29 || ZR_IQ_CAL_MISSING != -43 || ZR_DEFAULT_RF_CAL != 42 ||
      ZR_DEFAULT_IQ_CAL != 44 || ZR_INVALID_CHANNEL != 98) {
    puts("status codes differ");
    return 1;
  }
  return 0;
}
