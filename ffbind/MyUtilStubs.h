#pragma once
// Entry table of the system C library: the C runtime functions the engine
// and the probe call, bound like the FFmpeg entries.
#include <cstdarg>
#include <cstdio>

#include "ffbind/EntryTable.h"

namespace ff {
// Spelled out: C++ overloads some of these (strchr, strrchr), so decltype
// of the name would be ambiguous.
extern int (*atoi)(const char*);
extern int (*fclose)(FILE*);
extern int (*ferror)(FILE*);
extern FILE* (*fopen)(const char*, const char*);
extern int (*fprintf)(FILE*, const char*, ...);
extern std::size_t (*fread)(void*, std::size_t, std::size_t, FILE*);
extern int (*fseek)(FILE*, long, int);
extern long (*ftell)(FILE*);
extern std::size_t (*fwrite)(const void*, std::size_t, std::size_t, FILE*);
extern int (*snprintf)(char*, std::size_t, const char*, ...);
extern int (*sscanf)(const char*, const char*, ...);
extern char* (*strchr)(const char*, int);
extern int (*strcmp)(const char*, const char*);
extern int (*strncmp)(const char*, const char*, std::size_t);
extern char* (*strrchr)(const char*, int);
extern double (*strtod)(const char*, char**);
extern char* (*strtok)(char*, const char*);
extern long (*strtol)(const char*, char**, int);
extern int (*vsprintf)(char*, const char*, va_list);
extern int (*vsnprintf)(char*, std::size_t, const char*, va_list);
}  // namespace ff

namespace ffbind {
extern const TEntryTable kMyUtilEntries;
}  // namespace ffbind
