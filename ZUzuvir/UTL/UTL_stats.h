// Self-registering diagnostics: named statistics grouped by kind, and named
// remote commands invoked by id. Both are made as static objects; statistics made
// before the registry starts wait in a list.
#ifndef UTL_STATS_H
#define UTL_STATS_H

#include <map>
#include <set>

enum UTL_stat_type { stat_memory = 0, stat_per_frame = 2, stat_perf_tuning = 4 };

class UTL_stat {
public:
	UTL_stat(const char* name, UTL_stat_type type, float initial);  // keeps its own value
	UTL_stat(float* value, const char* name, UTL_stat_type type);   // reads an outside float
	~UTL_stat() {}  // a statistic stays registered

	static void init_stats();
	static void reset_stats(UTL_stat_type type);
	void publish();

	float         own_value;
	UTL_stat_type type;
	UTL_stat*     next_waiting;
	float*        value;
	const char*   name;

private:
	void enlist();
};

// Registry state: the sets by kind, the statistics made before init_stats
// (newest first), and whether init_stats has run.
extern std::map<UTL_stat_type, std::set<UTL_stat*>> all_stats;
extern UTL_stat* waiting;
extern bool stat_initialized;

class UTL_remote_cmd {
public:
	UTL_remote_cmd(const char* name, void (*fn)());
	~UTL_remote_cmd() {}

	static void init_remote_cmds();
	static void invoke(void* context, int id);
	void publish() {}

	UTL_remote_cmd* next;
	void (*fn)();
	const char* name;
	int id;

	static UTL_remote_cmd* cmd_list;
	static int free_id;
	static bool inited;
};

void UTL_profiler_init();
void UTL_profiler_start(const char* name);
void UTL_profiler_stop();

#endif
