/* A video hook module for the tests: paints every bgr24 picture one grey
   level, given as its argument. Counts its calls for the tests. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  uint8_t* data[4];
  int linesize[4];
} Picture;

int configure_calls = 0;
int release_calls = 0;

int Configure(void** ctx, int argc, char* argv[]) {
  ++configure_calls;
  if (argc < 2) return -1;
  int* level = malloc(sizeof *level);
  if (!level) return -1;
  *level = atoi(argv[1]);
  if (*level < 0 || *level > 255) {
    free(level);
    return -1;
  }
  *ctx = level;
  return 0;
}

void Process(void* ctx, Picture* picture, int pix_fmt, int width, int height, int64_t pts) {
  (void)pts;
  if (pix_fmt != 3) return; /* bgr24 only */
  for (int y = 0; y < height; ++y) memset(picture->data[0] + y * picture->linesize[0], *(int*)ctx, 3 * width);
}

void Release(void* ctx) {
  ++release_calls;
  free(ctx);
}
