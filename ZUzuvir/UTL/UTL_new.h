// The tagged allocation forms: a call-site label and line, accepted and unused.
// Every form of the global operators lands in nedmalloc/nedfree.
#ifndef UTL_NEW_H
#define UTL_NEW_H

#include <cstddef>
#include <new>

void* operator new(size_t size, const char* label, int line);
void* operator new[](size_t size, const char* label, int line);
void* operator new(size_t size, const std::nothrow_t&, const char* label, int line) noexcept;
void* operator new[](size_t size, const std::nothrow_t&, const char* label, int line) noexcept;

// Called only when a constructor throws inside a tagged new.
void operator delete(void* p, const char* label, int line) noexcept;
void operator delete[](void* p, const char* label, int line) noexcept;
void operator delete(void* p, const std::nothrow_t&, const char* label, int line) noexcept;
void operator delete[](void* p, const std::nothrow_t&, const char* label, int line) noexcept;

#endif
