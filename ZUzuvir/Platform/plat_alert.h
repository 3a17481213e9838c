// Stand-in for the modal alert display until the shell draws its own in the
// OpenGL window: the lines go to standard error.
#ifndef PLAT_ALERT_H
#define PLAT_ALERT_H

#include <string>

void plat_show_alert(const std::string lines[4], int type, const char* file, int line);

#endif
