// Start-up of the shell.
#ifndef MACIBM_INIT_H
#define MACIBM_INIT_H

// Opens the log in the application's folder, fills the tables, writes the log
// header and parses the command line (which may end the program for "-h" or
// "--cmnds").
void MACIBM_init(int argc, const char** argv);

#endif
