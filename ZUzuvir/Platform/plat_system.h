// Linux stand-ins for the few Mac system services the framework asks for.
// Everything here that knows about /proc, sched_getaffinity or uname stays here.
#ifndef PLAT_SYSTEM_H
#define PLAT_SYSTEM_H

#include <string>

// Number of processors this process may run on (the Multiprocessing Services count).
int MPProcessors();

// Whether the Multiprocessing Services are ready; POSIX threads need no start-up.
inline bool MPIsFullyInitialized() { return true; }

// Folder that holds the running executable, ending in "/"; "./" when it cannot be found.
std::string plat_app_folder();

// Sets a UTF-8 character type (C.UTF-8) for the whole process, once, so that
// libraries converting file names (7z stores them in UTF-16) keep non-ASCII ones.
void plat_utf8_names();

// One-line descriptions for the log header.
std::string plat_system_name();     // kernel name and release
std::string plat_processor_name();  // processor model
long long plat_memory_bytes();      // physical memory

#endif
