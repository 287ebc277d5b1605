#pragma once
// Number texts of the file information text.
#include <cstdint>
#include <string>

namespace probe {

// "%.2f GB" above 1 GiB, "%.2f MB" above 1 MiB, "%.2f KB" above 1 KiB,
// else "%d Byte" (also for 0 and negative sizes).
std::string ByteSizeText(std::int64_t size);
// A start time in microseconds as seconds with six decimals; empty for the
// library's no-time value.
std::string StartText(std::int64_t microseconds);
// ", 25 fps", ", 29.97 fps", ", 90k tbn": two decimals only when the rate is
// not whole, thousands as "k" when it is a whole multiple of 1000.
std::string RateText(double rate, const char* unit);

}  // namespace probe
