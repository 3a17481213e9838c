// The one alert routine of the program, and the shell's shut-down.
#ifndef MACIBM_ALERT_H
#define MACIBM_ALERT_H

#include <string>

enum { t_lang = 0, t_alert = 1, t_exit = 2 };

// Shows an alert of four lines. Type 2 (and an alert raised while another is
// shown) shuts down and exits with status 1: the call does not return.
void __MACIBM_alert(int wind, std::string msg1, std::string msg2, std::string msg3, std::string msg4,
                    int type, const char* file, int line);

// Shut-down. With save set it also saves preferences and joins the workers.
void MACIBM_finishup(int save);

// Test seam: when set, every alert shown on the main thread is handed here in
// place of the modal display. Fatal alerts still write their lines to standard
// error and exit with status 1 afterwards.
struct MACIBM_alert_rec {
	int         wind;
	std::string msg1, msg2, msg3, msg4;
	int         type;
	std::string file;
	int         line;
};
extern void (*MACIBM_alert_hook)(const MACIBM_alert_rec&);

#endif
