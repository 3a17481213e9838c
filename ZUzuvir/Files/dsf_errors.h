// Reports of errors found in scenery files: the detail goes to the log every
// time, the user is told which package is at fault. Main thread only.
#ifndef DSF_ERRORS_H
#define DSF_ERRORS_H

// After a non-fatal error the program goes on; each package shows its alert
// once per scenery scan.
void __DSF_NonFatalError(const char* file, int line, const char* scenery_path, const char* fmt, ...)
	__attribute__((format(printf, 4, 5)));
// A fatal error ends the program through the fatal alert.
void __DSF_FatalError(const char* file, int line, const char* scenery_path, const char* fmt, ...)
	__attribute__((format(printf, 4, 5)));

#endif
