#include "engine/Records.h"

#include <sys/stat.h>
#include <unistd.h>

#include "ffbind/AVFormatStubs.h"

namespace engine {

void TOutputContextCloser::operator()(AVFormatContext* s) const {
  if (!s) return;
  if (s->oformat && !(s->oformat->flags & AVFMT_NOFILE)) {
    if (s->pb) ff::avio_closep(&s->pb);
    struct stat info {};
    if (s->url && ::stat(s->url, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0) ::unlink(s->url);
  }
  ff::avformat_free_context(s);
}

}  // namespace engine
