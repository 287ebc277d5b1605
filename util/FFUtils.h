#pragma once
// Shared routines of the engine, the probe and the preview: error texts,
// array growth and the formatters of durations, times and names.
#include <string>

namespace ffutil {

// prefix + ": " + the text of a library error code.
std::string ErrorText(const std::string& prefix, int code);

}  // namespace ffutil
