// The requests to quit that reach a Linux program from outside its window:
// SIGINT (Ctrl-C at the terminal), SIGTERM and SIGHUP (its terminal closed). They
// only raise a flag that the frame loop reads, so shut-down runs on the main
// thread as for any other end.
#ifndef PLAT_SIGNALS_H
#define PLAT_SIGNALS_H

void plat_catch_quit_signals();
// Non-zero once one of them has arrived.
int plat_quit_requested();

#endif
