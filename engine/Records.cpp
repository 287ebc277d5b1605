#include "engine/Records.h"

#include "ffbind/AVFormatStubs.h"

namespace engine {

void TInputContextCloser::operator()(AVFormatContext* s) const {
  if (s) ff::avformat_close_input(&s);
}

}  // namespace engine
