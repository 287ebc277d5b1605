#pragma once
// Option strings in command-line syntax: splitting into words, the typed
// readers of option arguments and the process-wide text of the last option
// error. No library calls except the time reader (av_parse_time).
#include <cstdint>
#include <string>
#include <vector>

namespace ffutil {

// Words of an option string. Blanks and tabs separate words; a double quote
// toggles quoting (blanks inside are kept); n backslashes before a quote
// give n/2 backslashes and, for odd n, a literal quote; other backslashes
// are copied as they stand. A doubled quote inside a quoted part closes and
// reopens it, so it adds nothing. The list always ends with one extra empty word,
// so the last option of a string still receives an argument.
std::vector<std::string> SplitOptionWords(const std::string& text);

// Typed readers of an option's argument. Each throws std::runtime_error
// ("Expected integer for %s but found %s", "Expected int64 ...",
// "Expected float ...", "Expected double ...") when the whole text is not
// such a number. Floats follow the current C locale's decimal separator.
std::int32_t ReadIntOption(const std::string& name, const std::string& text);
std::int64_t ReadInt64Option(const std::string& name, const std::string& text);
float ReadFloatOption(const std::string& name, const std::string& text);
double ReadDoubleOption(const std::string& name, const std::string& text);
// Microseconds through the library's time parser (avutil must be loaded);
// throws std::runtime_error("Invalid duration|date specification for %s: %s").
std::int64_t ReadTimeOption(const std::string& name, const std::string& text, bool isDuration);

// A C integer with automatic base (0x.. hexadecimal, 0.. octal, else
// decimal) at the start of text; *end (when given) is set to the first
// character after it. No number gives 0 and *end == text. Saturates at the
// 32-bit range instead of wrapping.
std::int32_t ReadCInt(const char* text, const char** end = nullptr);

// The process-wide text of the last error found while parsing options or
// presets. Thread-safe; one text for all engine objects and probes.
std::string OptionErrorText();
void SetOptionErrorText(const std::string& text);
void ClearOptionErrorText();

}  // namespace ffutil
