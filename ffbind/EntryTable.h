#pragma once
// How an entry table is declared. Each library's stubs header lists its
// entries once with an X-macro; that list yields the process-wide pointers
// (namespace ff, named exactly as the library exports them) and the binding
// rows the loader walks in order.
#include <cstddef>
#include <span>

namespace ffbind {

enum class TEntryKind { Function, Variable };

struct TEntryBinding {
  const char* Name;  // exported name
  void** Slot;       // the entry table pointer
  TEntryKind Kind;
};

using TEntryTable = std::span<const TEntryBinding>;

}  // namespace ffbind

#define FFBIND_DECLARE_ENTRY(name) extern decltype(&::name) name;
#define FFBIND_DEFINE_ENTRY(name) decltype(&::name) name = nullptr;
#define FFBIND_ENTRY_ROW(name) {#name, reinterpret_cast<void**>(&ff::name), ::ffbind::TEntryKind::Function},
