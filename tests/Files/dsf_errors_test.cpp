#include "Files/dsf_errors.h"

#include <gtest/gtest.h>

#include "Files/dsf_library.h"
#include "dsf_test.h"

class SceneryReports : public SceneryTree {
protected:
	void SetUp() override
	{
		SceneryTree::SetUp();
		scenery_packages = {"Custom Scenery/KSEA/", "Devori Dorivav/world/"};
		package_is_custom = {1, 0};
		package_problems = {0, 0};
	}
};

TEST_F(SceneryReports, NonFatalReportsLogEveryTimeAndAlertOncePerPackage)
{
	__DSF_NonFatalError("caller.cpp", 12, "Custom Scenery/KSEA/Earth/+47-123.dsf", "bad %s %d", "thing", 3);
	__DSF_NonFatalError("caller.cpp", 13, "Custom Scenery/KSEA/library.txt", "again");
	ASSERT_EQ(alerts.alerts.size(), 1u);
	const MACIBM_alert_rec& a = alerts.alerts[0];
	EXPECT_EQ(std::make_pair(a.wind, a.type), std::make_pair(0, 1));
	// The alert routine logs its four lines (after its memory-report line), between the two reports.
	const std::string text = log.text();
	const size_t alert_from = text.find("Error loading the scenery package:\n");
	ASSERT_NE(alert_from, std::string::npos) << text;
	EXPECT_EQ(text.substr(0, text.find('\n', text.find("bad thing")) + 1),
	          "***Error with scenery file \"Custom Scenery/KSEA/Earth/+47-123.dsf\" (caller.cpp: 12.)\n  bad thing 3\n");
	EXPECT_EQ(text.substr(alert_from),
	          "Error loading the scenery package:\nCustom Scenery/KSEA/\nThe scenery may not look correct.\n"
	          "Please see the log.txt file for detailed error information.\n"
	          "***Error with scenery file \"Custom Scenery/KSEA/library.txt\" (caller.cpp: 13.)\n  again\n");
	EXPECT_EQ(package_problems, (std::vector<int>{1, 0}));

	// The comparison covers the shorter length: either may be the prefix.
	const struct {
		const char* path;
		const char* named;  // the alert's second line, "" for no alert
	} cases[] = {
		{"Custom Scenery/KSEA/x.dsf", ""},  // already shown
		{"Devori Dorivav/wor", "Devori Dorivav/world/"},
		{"Devori Dorivav/world/x.dsf", ""},
		{"Elsewhere/x.dsf", "Elsewhere/x.dsf"},  // outside every package: every time
		{"Elsewhere/x.dsf", "Elsewhere/x.dsf"},
	};
	for (const auto& c : cases) {
		alerts.alerts.clear();
		__DSF_NonFatalError("f", 1, c.path, "m");
		ASSERT_EQ(alerts.alerts.size(), *c.named ? 1u : 0u) << c.path;
		if (*c.named) {
			EXPECT_EQ(alerts.alerts[0].msg2, c.named) << c.path;
		}
	}
}

TEST_F(SceneryReports, LongMessagesAreCutToTheBuffer)
{
	package_problems = {1, 1};  // no alert: the log holds the reports alone
	const std::string path = "Custom Scenery/KSEA/" + std::string(10 * 1024, 'd');
	const std::string ascii(10 * 1024, 'p');
	std::string accents;
	for (int i = 0; i < 5000; ++i) accents += "\xc3\xa9";
	const struct {
		const std::string& arg;
		size_t             kept;
	} cases[] = {
		{ascii, 4095},
		{accents, 4094},  // a character cut in two is dropped whole
	};
	for (const auto& c : cases) {
		const size_t before = log.text().size();
		__DSF_NonFatalError("f", 1, path.c_str(), "%s", c.arg.c_str());
		EXPECT_TRUE(log.text().substr(before) ==
		            "***Error with scenery file \"" + path + "\" (f: 1.)\n  " + c.arg.substr(0, c.kept) + "\n")
			<< c.kept;
	}
}

using SceneryReportsDeathTest = SceneryReports;

TEST_F(SceneryReportsDeathTest, FatalReportsEndTheProgramNamingThePackage)
{
	const struct {
		const char* path;
		const char* lines;
	} cases[] = {
		{"Custom Scenery/KSEA/a.dsf",
		 "Custom Scenery/KSEA/\nNimbara cannot run with this package installed - you may need to remove the custom  "
		 "scenery package\\.\n"},
		{"Devori Dorivav/world/a.dsf",
		 "Devori Dorivav/world/\nNimbara cannot run with this package installed - You may need to reinstall "
		 "Nimbara\\.\n"},
		{"Other/a.dsf", "Other/a\\.dsf\nNimbara cannot run with this corrupt file\\.\n"},
	};
	for (const auto& c : cases) {
		EXPECT_EXIT(
			{
				// An earlier non-fatal report of the package does not silence the fatal one.
				__DSF_NonFatalError("f", 1, c.path, "first");
				__DSF_FatalError("f", 2, c.path, "second");
			},
			testing::ExitedWithCode(1),
			std::string("FATAL ERROR \\(ZUzuvir/Files/dsf_errors, line [0-9]+\\)\nError loading the scenery package:\n") +
				c.lines + "Please see the log\\.txt file for detailed error information\\.\n")
			<< c.path;
	}
}
