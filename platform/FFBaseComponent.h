#pragma once
// Common base of the encoder, the frame input adapter, the logger and the
// probe: the time-outs after which stalled reads and writes are abandoned.
#include <cstdint>

namespace platform {

class TFFBaseComponent {
 public:
  virtual ~TFFBaseComponent() = default;

  std::int32_t ReadTimeout = 30000;   // milliseconds
  std::int32_t WriteTimeout = 30000;  // milliseconds
};

}  // namespace platform
