// The window's OpenGL context and the worker threads' contexts that share with it.
#ifndef MACIBM_CONTEXT_H
#define MACIBM_CONTEXT_H

// The platform's OpenGL context handle.
typedef struct plat_gl_context* AGLContext;

// Creates the window and its OpenGL context and makes it current; fatal on failure.
void MACIBM_make_context();

// A context for a worker thread, sharing with the window's; null when the window's
// pixel format does not exist yet or the creation failed (logged).
AGLContext MACIBM_make_context_loader();

// Makes the context current on the calling thread; true on success.
bool MACIBM_set_context_loader(AGLContext context);

// Releases every context (shut-down).
void MACIBM_dispose_contexts();

#endif
