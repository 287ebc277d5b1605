#include "log/FFLog.h"

#include <charconv>
#include <cstring>
#include <strings.h>

namespace fflog {

int LibraryLevel(TLogLevel level) { return 8 * static_cast<int>(level) - 8; }

TLogLevel LogLevelOfLibrary(int libraryLevel) {
  if (libraryLevel <= -8) return llQuiet;
  const int v = libraryLevel / 8 + 1;
  return static_cast<TLogLevel>(v > llDebug ? llDebug : v);
}

int ParseLibraryLevel(const std::string& arg) {
  static constexpr struct {
    const char* Name;
    int Level;
  } kNames[] = {{"quiet", -8}, {"panic", 0},    {"fatal", 8},    {"error", 16},
                {"warning", 24}, {"info", 32}, {"verbose", 40}, {"debug", 48}};
  for (const auto& entry : kNames)
    if (arg.size() == std::strlen(entry.Name) && ::strcasecmp(arg.c_str(), entry.Name) == 0) return entry.Level;

  // from_chars takes no '+', the usual integer texts do.
  const char* first = arg.data();
  const char* last = arg.data() + arg.size();
  if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || first == last)
    throw std::invalid_argument("'" + arg + "' is not a valid integer value");
  return value;
}

}  // namespace fflog
