#include "ffbind/MyUtilStubs.h"

#define FFBIND_MYUTIL_ENTRIES(X) \
  X(atoi) X(fclose) X(ferror) X(fopen) X(fprintf) X(fread) X(fseek) X(ftell) X(fwrite) X(snprintf) \
  X(sscanf) X(strchr) X(strcmp) X(strncmp) X(strrchr) X(strtod) X(strtok) X(strtol) X(vsprintf) X(vsnprintf)

namespace ff {
int (*atoi)(const char*) = nullptr;
int (*fclose)(FILE*) = nullptr;
int (*ferror)(FILE*) = nullptr;
FILE* (*fopen)(const char*, const char*) = nullptr;
int (*fprintf)(FILE*, const char*, ...) = nullptr;
std::size_t (*fread)(void*, std::size_t, std::size_t, FILE*) = nullptr;
int (*fseek)(FILE*, long, int) = nullptr;
long (*ftell)(FILE*) = nullptr;
std::size_t (*fwrite)(const void*, std::size_t, std::size_t, FILE*) = nullptr;
int (*snprintf)(char*, std::size_t, const char*, ...) = nullptr;
int (*sscanf)(const char*, const char*, ...) = nullptr;
char* (*strchr)(const char*, int) = nullptr;
int (*strcmp)(const char*, const char*) = nullptr;
int (*strncmp)(const char*, const char*, std::size_t) = nullptr;
char* (*strrchr)(const char*, int) = nullptr;
double (*strtod)(const char*, char**) = nullptr;
char* (*strtok)(char*, const char*) = nullptr;
long (*strtol)(const char*, char**, int) = nullptr;
int (*vsprintf)(char*, const char*, va_list) = nullptr;
int (*vsnprintf)(char*, std::size_t, const char*, va_list) = nullptr;
}  // namespace ff

namespace ffbind {
namespace {
const TEntryBinding kRows[] = {FFBIND_MYUTIL_ENTRIES(FFBIND_ENTRY_ROW)};
}  // namespace
const TEntryTable kMyUtilEntries{kRows};
}  // namespace ffbind
