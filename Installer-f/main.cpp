// The installer's entry.
#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_init.h"

int main(int argc, const char** argv)
{
	MACIBM_init(argc, argv);
	MACIBM_finishup(1);
	return 0;
}
