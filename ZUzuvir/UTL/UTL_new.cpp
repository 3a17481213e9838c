#include "UTL/UTL_new.h"

#include <exception>

#include "UTL/nedmalloc.h"

// Pulled into every program by the link (see ZUzuvir/CMakeLists.txt): nothing
// else refers to this file, and an archive member nobody refers to is left out.
extern "C" {
int zuz_operators_linked = 1;
}

#ifndef ZUZ_SYSTEM_ALLOCATOR

// The new-handler loop. Only std::bad_alloc may leave the throwing forms:
// anything else the handler throws ends the program. The nothrow forms answer
// null for whatever the handler throws.
static void* new_worker(size_t size, size_t alignment, bool nothrow = false)
{
	size_t n = size ? size : 1;
	for (;;) {
		if (void* p = alignment ? nedmemalign(alignment, n) : nedmalloc(n)) return p;
		std::new_handler handler = std::get_new_handler();
		if (!handler) {
			if (nothrow) return nullptr;
			throw std::bad_alloc();
		}
		try {
			handler();
		} catch (const std::bad_alloc&) {
			if (nothrow) return nullptr;
			throw;
		} catch (...) {
			if (nothrow) return nullptr;
			std::terminate();
		}
	}
}

static void* new_worker_nothrow(size_t size, size_t alignment) noexcept
{
	return new_worker(size, alignment, true);
}

static void delete_worker(void* p) noexcept
{
	if (p) nedfree(p);
}

void* operator new(size_t size, const char*, int) { return new_worker(size, 0); }
void* operator new[](size_t size, const char* label, int line) { return operator new(size, label, line); }
void* operator new(size_t size) { return operator new(size, "anonymous new", 0); }
void* operator new[](size_t size) { return operator new(size, "anonymous new[]", 0); }

void* operator new(size_t size, const std::nothrow_t&, const char*, int) noexcept
{
	return new_worker_nothrow(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t& nt, const char* label, int line) noexcept
{
	return operator new(size, nt, label, line);
}
void* operator new(size_t size, const std::nothrow_t& nt) noexcept
{
	return operator new(size, nt, "anonymous new-nt", 0);
}
void* operator new[](size_t size, const std::nothrow_t& nt) noexcept
{
	return operator new(size, nt, "anonymous new-nt[]", 0);
}

void* operator new(size_t size, std::align_val_t al) { return new_worker(size, (size_t)al); }
void* operator new[](size_t size, std::align_val_t al) { return new_worker(size, (size_t)al); }
void* operator new(size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
	return new_worker_nothrow(size, (size_t)al);
}
void* operator new[](size_t size, std::align_val_t al, const std::nothrow_t&) noexcept
{
	return new_worker_nothrow(size, (size_t)al);
}

void operator delete(void* p) noexcept { delete_worker(p); }
void operator delete[](void* p) noexcept { delete_worker(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { delete_worker(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { delete_worker(p); }
void operator delete(void* p, size_t) noexcept { delete_worker(p); }
void operator delete[](void* p, size_t) noexcept { delete_worker(p); }
void operator delete(void* p, std::align_val_t) noexcept { delete_worker(p); }
void operator delete[](void* p, std::align_val_t) noexcept { delete_worker(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { delete_worker(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { delete_worker(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { delete_worker(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { delete_worker(p); }

#else

// The C library's operators stay; the tagged forms lead to them.
void* operator new(size_t size, const char*, int) { return ::operator new(size); }
void* operator new[](size_t size, const char*, int) { return ::operator new[](size); }
void* operator new(size_t size, const std::nothrow_t& nt, const char*, int) noexcept
{
	return ::operator new(size, nt);
}
void* operator new[](size_t size, const std::nothrow_t& nt, const char*, int) noexcept
{
	return ::operator new[](size, nt);
}

#endif

void operator delete(void* p, const char*, int) noexcept { ::operator delete(p); }
void operator delete[](void* p, const char*, int) noexcept { ::operator delete[](p); }
void operator delete(void* p, const std::nothrow_t&, const char*, int) noexcept { ::operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&, const char*, int) noexcept { ::operator delete[](p); }
