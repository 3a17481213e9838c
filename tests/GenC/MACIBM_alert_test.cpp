#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "GenC/MACIBM_alert.h"
#include "GenC/cmnd.h"
#include "GenC/hl_globals.h"
#include "UTL/UTL_cmdline.h"
#include "zuz_test.h"

static const char report_label[] =
	"This is the dump_mem_stats call from the following code: if(type==t_exit || type == t_alert || recursive_error)";

TEST(Alert, WarningIsLoggedShownAndReturns)
{
	zuz_test::LogCapture log;
	zuz_test::AlertRecorder rec;
	__MACIBM_alert(0, "first", "", "third", "", t_alert, "ZUzuvir/Files/io_utils", 77);
	ASSERT_EQ(rec.alerts.size(), 1u);
	EXPECT_EQ(rec.alerts[0].msg1, "first");
	EXPECT_EQ(rec.alerts[0].msg3, "third");
	EXPECT_EQ(rec.alerts[0].type, t_alert);
	EXPECT_EQ(rec.alerts[0].file, "ZUzuvir/Files/io_utils");
	EXPECT_EQ(rec.alerts[0].line, 77);
	const std::string logged = std::string("OK check MemoryLog.txt! I just sent him a dump from ") + report_label +
	                           "\nfirst\n\nthird\n\n";
	EXPECT_EQ(log.text(), logged);

	// The language chooser is shown but not logged.
	__MACIBM_alert(0, "lang", "", "", "", t_lang, "f", 1);
	EXPECT_EQ(rec.alerts.size(), 2u);
	EXPECT_EQ(log.text(), logged);
}

static void raise_inside(const MACIBM_alert_rec&)
{
	MACIBM_alert_hook = nullptr;
	__MACIBM_alert(0, "inner", "", "", "", t_lang, "inner_file", 2);
}

TEST(AlertDeathTest, FatalAlertWritesItsLinesAndExitsWithOne)
{
	EXPECT_EXIT(__MACIBM_alert(0, "\"x\" OS error", "err=22.000000", "", "", t_exit, "ZUzuvir/UTL/UTL_thread", 404),
	            testing::ExitedWithCode(1),
	            "FATAL ERROR \\(ZUzuvir/UTL/UTL_thread, line 404\\)\n\"x\" OS error\nerr=22.000000\n");

	// Even with a recorder, a fatal alert ends the process.
	EXPECT_EXIT(
		{
			zuz_test::AlertRecorder rec;
			__MACIBM_alert(0, "fatal", "", "", "", t_exit, "f", 9);
		},
		testing::ExitedWithCode(1), "fatal");

	// An alert raised while another is shown is fatal, whatever its type.
	EXPECT_EXIT(
		{
			MACIBM_alert_hook = raise_inside;
			__MACIBM_alert(0, "outer", "", "", "", t_alert, "outer_file", 1);
		},
		testing::ExitedWithCode(1), "inner_file, line 2");
}

static void alerts_in_fps_test(const std::string& log_path)
{
	xer.open(log_path);
	const char* argv[] = {"nimbara", "--fps_test=1"};
	cmdline.init_unix(2, argv);
	__MACIBM_alert(0, "warned", "", "", "", t_alert, "w", 3);
	__MACIBM_alert(0, "died", "", "", "", t_exit, "d", 4);
}

TEST(AlertDeathTest, FpsTestSendsTheLinesToTheLogInstead)
{
	// The death test's child runs this body again, so the path must not be random.
	std::string log_path = std::string(getenv("TMPDIR")) + "/fps_test_Log.txt";
	EXPECT_EXIT(alerts_in_fps_test(log_path), testing::ExitedWithCode(1), "died");
	EXPECT_EQ(zuz_test::read_file(log_path),
	          "     '--fps_test'='1'\n"
	          "warned\n\n\n\n"
	          "died\n\n\n\n");
}

TEST(Commands, NextComponentsUnderAPrefix)
{
	cmnd_class c;
	EXPECT_EQ(c.add_cmnd("view/zoom/in", "Zoom in"), 1);
	EXPECT_EQ(c.add_cmnd("view/pan", "Pan"), 2);
	c.add_cmnd("view/zoom/out", "Zoom out");
	c.add_cmnd("quit", "Quit");
	c.add_cmnd("view", "exactly the prefix");

	std::vector<std::string> out = {"stale"};
	c.get_cmds_in_path("", out);
	EXPECT_EQ(out, (std::vector<std::string>{"quit", "view", "view/"}));
	c.get_cmds_in_path("view/", out);
	EXPECT_EQ(out, (std::vector<std::string>{"pan", "zoom/"}));
	c.get_cmds_in_path("view/zoom/", out);
	EXPECT_EQ(out, (std::vector<std::string>{"in", "out"}));
	c.get_cmds_in_path("nothing/", out);
	EXPECT_TRUE(out.empty());
}

TEST(Tables, StartUpFillsAlignedScratchAndFixedTables)
{
	MACIBM_init_tables();
	EXPECT_EQ(reinterpret_cast<uintptr_t>(scratch_array) % 16, 0u);
	scratch_array[scratch_array_bytes - 1] = 1;  // the whole buffer is ours
	scratch_array[scratch_array_bytes - 1] = 0;
	EXPECT_FLOAT_EQ(lookup_sin[90], 1.0f);
	EXPECT_NEAR(lookup_cos[90], 0.0f, 1e-6f);
	EXPECT_FLOAT_EQ(lookup_cos[360], 1.0f);
	float lo = 1, hi = 0;
	for (float r : randrat) lo = std::min(lo, r), hi = std::max(hi, r);
	EXPECT_GE(lo, 0.0f);
	EXPECT_LE(hi, 0.9999f);
	// Each value is the float nearest to rand() x 2^-31 x 0.9999, the generator
	// seeded with 1, every time the tables are filled.
	MACIBM_init_tables();
	srand(1);
	for (int i = 0; i < 10000; ++i) {
		long double want = (long double)rand() / 2147483648.0L * 0.9999L;
		ASSERT_EQ(randrat[i], (float)want) << "randrat[" << i << "]";
	}
}
