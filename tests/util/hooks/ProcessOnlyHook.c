/* A video hook module with Process only: inverts the first plane. */
#include <stdint.h>

typedef struct {
  uint8_t* data[4];
  int linesize[4];
} Picture;

void Process(void* ctx, Picture* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)ctx, (void)pix_fmt, (void)pts;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < 3 * width; ++x) picture->data[0][y * picture->linesize[0] + x] ^= 0xFF;
}
