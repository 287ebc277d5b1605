#include "probe/FileSize.h"

#include <filesystem>
#include <system_error>

#include "ffbind/AVFormatStubs.h"

namespace probe {

std::int64_t ContextFileSize(AVFormatContext* context) {
  const std::int64_t reported = context->pb ? ff::avio_size(context->pb) : 0;
  if (reported > 0) return reported;
  if (context->url && *context->url) {
    std::error_code error;
    const std::filesystem::path path(context->url);
    if (std::filesystem::exists(path, error)) {
      const std::uintmax_t size = std::filesystem::file_size(path, error);
      return error ? -1 : static_cast<std::int64_t>(size);
    }
  }
  // A library error code is no size.
  return 0;
}

}  // namespace probe
