#include "UTL/UTL_stats.h"

// `waiting` and `stat_initialized` are constant-initialised, so a statistic may
// be made by any file's static initialiser, even before all_stats is built.
std::map<UTL_stat_type, std::set<UTL_stat*>> all_stats;
UTL_stat* waiting = nullptr;
bool stat_initialized = false;

UTL_stat::UTL_stat(const char* in_name, UTL_stat_type in_type, float initial)
	: own_value(initial), type(in_type), next_waiting(nullptr), value(&own_value), name(in_name)
{
	enlist();
}

UTL_stat::UTL_stat(float* in_value, const char* in_name, UTL_stat_type in_type)
	: own_value(0.0f), type(in_type), next_waiting(nullptr), value(in_value), name(in_name)
{
	enlist();
}

void UTL_stat::enlist()
{
	if (stat_initialized) {
		publish();
	} else {
		next_waiting = waiting;
		waiting = this;
	}
}

void UTL_stat::publish()
{
	all_stats[type].insert(this);
}

void UTL_stat::init_stats()
{
	for (UTL_stat* s = waiting; s; s = s->next_waiting) s->publish();
	stat_initialized = true;
}

void UTL_stat::reset_stats(UTL_stat_type type)
{
	for (UTL_stat* s : all_stats[type]) *s->value = 0.0f;
}

UTL_remote_cmd* UTL_remote_cmd::cmd_list = nullptr;
int UTL_remote_cmd::free_id = 1;
bool UTL_remote_cmd::inited = false;

UTL_remote_cmd::UTL_remote_cmd(const char* in_name, void (*in_fn)())
	: next(cmd_list), fn(in_fn), name(in_name), id(free_id++)
{
	cmd_list = this;
}

void UTL_remote_cmd::init_remote_cmds()
{
	inited = true;
	for (UTL_remote_cmd* c = cmd_list; c; c = c->next) c->publish();
}

void UTL_remote_cmd::invoke(void*, int id)
{
	for (UTL_remote_cmd* c = cmd_list; c; c = c->next) {
		if (c->id == id) {
			c->fn();
			return;
		}
	}
}

void UTL_profiler_init() {}
void UTL_profiler_start(const char*) {}
void UTL_profiler_stop() {}
