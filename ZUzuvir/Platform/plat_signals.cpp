#include "Platform/plat_signals.h"

#include <signal.h>

static volatile sig_atomic_t quit_asked = 0;

static void on_quit(int)
{
	quit_asked = 1;
}

void plat_catch_quit_signals()
{
	struct sigaction sa = {};
	sa.sa_handler = on_quit;
	sigemptyset(&sa.sa_mask);
	sa.sa_flags = 0;  // no restart: the frame's wait ends at once
	sigaction(SIGINT, &sa, nullptr);
	sigaction(SIGTERM, &sa, nullptr);
	// The terminal that started the program has closed; under nohup it stays ignored.
	struct sigaction hup = {};
	if (sigaction(SIGHUP, nullptr, &hup) == 0 && hup.sa_handler != SIG_IGN) sigaction(SIGHUP, &sa, nullptr);
}

int plat_quit_requested()
{
	return quit_asked;
}
