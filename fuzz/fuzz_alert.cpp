// The fuzz targets' alert routine: warnings pass, fatal alerts throw. The real
// one ends the process, which libFuzzer would count as a crash.
#include "GenC/MACIBM_alert.h"
#include "fuzz_common.h"

void (*MACIBM_alert_hook)(const MACIBM_alert_rec&) = nullptr;

void __MACIBM_alert(int, std::string, std::string, std::string, std::string, int type, const char*, int)
{
	if (type == t_exit) throw fuzz_fatal_alert();
}
