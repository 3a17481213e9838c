#include <gtest/gtest.h>

#include <string>

#include "UTL/UTL_stats.h"

// Made during static initialisation, before the registry starts.
static UTL_stat early("test/early", stat_per_frame, 5.0f);

static int ran_first = 0, ran_second = 0;
static UTL_remote_cmd first("first", [] { ++ran_first; });
static UTL_remote_cmd second("second", [] { ++ran_second; });

TEST(Stats, WaitUntilTheRegistryStartsThenReset)
{
	EXPECT_EQ(all_stats[stat_per_frame].count(&early), 0u);
	UTL_stat::init_stats();
	EXPECT_EQ(all_stats[stat_per_frame].count(&early), 1u);

	float outside = 3.0f;
	UTL_stat late(&outside, "test/late", stat_per_frame);
	UTL_stat other("test/other", stat_perf_tuning, 9.0f);
	EXPECT_EQ(all_stats[stat_per_frame].count(&late), 1u);

	UTL_stat::reset_stats(stat_per_frame);
	EXPECT_EQ(early.own_value, 0.0f);
	EXPECT_EQ(outside, 0.0f);
	EXPECT_EQ(other.own_value, 9.0f);
	UTL_stat::reset_stats(stat_memory);  // a kind without statistics
	all_stats[stat_per_frame].erase(&late);
	all_stats[stat_perf_tuning].erase(&other);
}

TEST(RemoteCommands, IdsInOrderNewestFirstAndUnknownIdsIgnored)
{
	EXPECT_EQ(first.id + 1, second.id);
	EXPECT_EQ(second.next, &first);  // other files register commands of their own
	std::string ids;
	for (UTL_remote_cmd* c = UTL_remote_cmd::cmd_list; c; c = c->next) ids = std::to_string(c->id) + " " + ids;
	std::string want;
	for (int id = 1; id < UTL_remote_cmd::free_id; ++id) want += std::to_string(id) + " ";
	EXPECT_EQ(ids, want);  // numbered from 1 in the order made, newest first in the list
	UTL_remote_cmd::init_remote_cmds();
	EXPECT_TRUE(UTL_remote_cmd::inited);
	UTL_remote_cmd::invoke(nullptr, second.id);
	UTL_remote_cmd::invoke(nullptr, 0);
	UTL_remote_cmd::invoke(nullptr, 999);
	EXPECT_EQ(ran_first, 0);
	EXPECT_EQ(ran_second, 1);
}
