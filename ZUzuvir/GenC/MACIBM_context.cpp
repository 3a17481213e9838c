#include "GenC/MACIBM_context.h"

// Until the window exists there is no pixel format to share.
void MACIBM_make_context() {}

AGLContext MACIBM_make_context_loader()
{
	return nullptr;
}

bool MACIBM_set_context_loader(AGLContext)
{
	return false;
}

void MACIBM_dispose_contexts() {}
