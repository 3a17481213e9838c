// Start-up of the shell.
#ifndef MACIBM_INIT_H
#define MACIBM_INIT_H

#include <string>

// Opens the log in the application's folder, fills the tables, writes the log
// header, parses the command line (which may end the program for "-h" or
// "--cmnds"), starts the threads, opens the window, uploads the built-in images,
// takes the interface colours from them and shows the start-up messages.
void MACIBM_init(int argc, const char** argv);

// A start-up message with a progress fraction (null: a counter that grows per
// call). Nothing while no start-up screen is up.
void MACIBM_show_init(const std::string& message, const float* fraction);

#endif
