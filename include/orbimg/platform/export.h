// ORBIMG_API: the mark of every class and function the library exports.
//
// The library is built with hidden symbol visibility (-fvisibility=hidden and
// -fvisibility-inlines-hidden): a name without this mark stays inside it.
// Marked classes export their out-of-line members, static data, virtual tables
// and type information, so exceptions (CMemoryException) and dynamic_cast work
// across the library's boundary. The mark is the same for the shared and the
// static library and for host programs.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define ORBIMG_API __attribute__((visibility("default")))
#else
#define ORBIMG_API
#endif
