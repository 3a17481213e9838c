// The shell's frame loop: one call of MACIBM_event_proc is one frame.
#ifndef MACIBM_EVENT_H
#define MACIBM_EVENT_H

// One frame: events, the alerts other threads queued, the clock, the
// application's per-frame hook, the buffer swap. A close button or a quit
// signal sets app_done.
void MACIBM_event_proc();

// Selects a window for drawing (0 the main window) and clears it.
void MACIBM_startwind(int wind);

#endif
