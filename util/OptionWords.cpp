#include "util/OptionWords.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <stdexcept>

#include "ffbind/AVUtilStubs.h"

namespace ffutil {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

[[noreturn]] void Expected(const char* kind, const std::string& name, const std::string& text) {
  throw std::runtime_error("Expected " + std::string(kind) + " for " + name + " but found " + text);
}

// strtoll/strtod accept leading blanks; the readers want the number alone.
bool StartsLikeNumber(const std::string& text) { return !text.empty() && !std::isspace(static_cast<unsigned char>(text[0])); }

std::mutex gErrorLock;
std::string gErrorText;

}  // namespace

std::vector<std::string> SplitOptionWords(const std::string& text) {
  std::vector<std::string> words;
  std::size_t i = 0;
  const std::size_t n = text.size();
  for (;;) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    std::string word;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(text[i]))) {
      if (text[i] == '\\') {
        std::size_t run = 0;
        while (i < n && text[i] == '\\') ++run, ++i;
        if (i < n && text[i] == '"') {
          word.append(run / 2, '\\');
          if (run % 2 == 1) word += '"';
          else quoted = !quoted;
          ++i;
        } else {
          word.append(run, '\\');
        }
      } else if (text[i] == '"') {
        quoted = !quoted;
        ++i;
      } else {
        word += text[i++];
      }
    }
    words.push_back(std::move(word));
  }
  words.emplace_back();
  return words;
}

std::int32_t ReadIntOption(const std::string& name, const std::string& text) {
  if (!StartsLikeNumber(text)) Expected("integer", name, text);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) Expected("integer", name, text);
  return static_cast<std::int32_t>(v);
}

std::int64_t ReadInt64Option(const std::string& name, const std::string& text) {
  if (!StartsLikeNumber(text)) Expected("int64", name, text);
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0' || errno == ERANGE) Expected("int64", name, text);
  return v;
}

float ReadFloatOption(const std::string& name, const std::string& text) {
  if (!StartsLikeNumber(text)) Expected("float", name, text);
  char* end = nullptr;
  errno = 0;
  float v = std::strtof(text.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) Expected("float", name, text);
  return v;
}

double ReadDoubleOption(const std::string& name, const std::string& text) {
  if (!StartsLikeNumber(text)) Expected("double", name, text);
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) Expected("double", name, text);
  return v;
}

std::int64_t ReadTimeOption(const std::string& name, const std::string& text, bool isDuration) {
  std::int64_t us = 0;
  if (ff::av_parse_time(&us, text.c_str(), isDuration ? 1 : 0) < 0)
    throw std::runtime_error("Invalid " + std::string(isDuration ? "duration" : "date") + " specification for " + name +
                             ": " + text);
  return us;
}

std::int32_t ReadCInt(const char* text, const char** end) {
  char* stop = nullptr;
  errno = 0;
  long long v = std::strtoll(text, &stop, 0);
  if (end) *end = stop;
  if (v < INT32_MIN) return INT32_MIN;
  if (v > INT32_MAX) return INT32_MAX;
  return static_cast<std::int32_t>(v);
}

std::string OptionErrorText() {
  std::lock_guard guard(gErrorLock);
  return gErrorText;
}

void SetOptionErrorText(const std::string& text) {
  std::lock_guard guard(gErrorLock);
  gErrorText = text;
}

void ClearOptionErrorText() { SetOptionErrorText(std::string()); }

}  // namespace ffutil
