// Zip and 7z archives against the real tools: Info-ZIP zip, unzip and zipinfo,
// bsdtar, 7-Zip, and archives crafted with python3's zipfile.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>

#include "Files/io_archive.h"
#include "Files/io_utils.h"
#include "zuz_test.h"

using zuz_test::read_file;
using zuz_test::run;
using zuz_test::TempDir;
using zuz_test::write_file;

static bool exists(const std::string& path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0;
}

static std::string link_text(const std::string& path)
{
	char buf[4096];
	ssize_t n = readlink(path.c_str(), buf, sizeof(buf));
	return n < 0 ? "" : std::string(buf, (size_t)n);
}

static mode_t mode_of(const std::string& path)
{
	struct stat st;
	return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Every name in a folder, dot-names included: nothing half-written may stay.
static std::string listing(const std::string& folder)
{
	std::string out;
	run("cd '" + folder + "' && ls -A", &out);
	return out;
}

static void use_utc()
{
	setenv("TZ", "UTC", 1);
	tzset();
}

// A zip written by python3's zipfile: `entries` is a Python list of
// (name, bytes, external attributes[, method]), stored unless a method is
// given, made on Unix.
static void craft_zip(const std::string& path, const std::string& entries)
{
	const std::string script = "import zipfile, struct\n"
	                           "entries = " + entries + "\n"
	                           "with zipfile.ZipFile('" + path + "', 'w') as z:\n"
	                           "    for name, data, attr, *method in entries:\n"
	                           "        i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))\n"
	                           "        i.create_system = 3\n"
	                           "        i.external_attr = attr\n"
	                           "        i.compress_type = method[0] if method else zipfile.ZIP_STORED\n"
	                           "        with z.open(i, 'w') as f:\n"  // writestr would turn attributes 0 into 0600
	                           "            f.write(data)\n";
	write_file(path + ".py", script);
	ASSERT_EQ(run("python3 '" + path + ".py'"), 0) << entries;
}

// Flips one byte of `marker` inside the file.
static void flip_byte(const std::string& path, const std::string& marker)
{
	std::string bytes = read_file(path);
	size_t at = bytes.find(marker);
	ASSERT_NE(at, std::string::npos);
	bytes[at + 2] ^= 0x20;
	write_file(path, bytes);
}

// Changes the 32-bit field `at` bytes into the archive's first record that
// begins with `signature` ("PK\3\4" local header, "PK\1\2" central record).
static void patch_field(const std::string& path, const std::string& signature, size_t at,
                        const std::function<uint32_t(uint32_t)>& change)
{
	std::string bytes = read_file(path);
	const size_t rec = bytes.find(signature);
	ASSERT_NE(rec, std::string::npos);
	uint32_t v;
	memcpy(&v, &bytes[rec + at], 4);
	v = change(v);
	memcpy(&bytes[rec + at], &v, 4);
	write_file(path, bytes);
}

// A fork record: header, entry table (Finder information, fork), then both.
static std::string fork_record(const char* fork_length,
                               const char* header = "b'\\x00\\x05\\x16\\x07\\x00\\x02' + bytes(18)")
{
	return std::string("(") + header + " + struct.pack('>H', 2) + struct.pack('>3I', 9, 50, 32)"
	       " + struct.pack('>3I', 2, 82, " + fork_length + ") + b'TEXTttxt\\x01\\x00\\x00\\x10\\x00\\x20\\x00\\x00'"
	       " + bytes(16) + b'FORKDATA')";
}

TEST(ZipExtract, InfoZipTreeLikeUnzip)
{
	use_utc();
	TempDir dir;
	const std::string src = dir / "src/";
	ASSERT_EQ(run("mkdir -p '" + src + "d/sub' && cd '" + src + "d' && printf text > a.txt && printf s > secret && "
	              "printf '#!/bin/sh\\n' > run.sh && : > empty && printf in > sub/in && ln -s a.txt ln && "
	              "{ printf x; head -c 131070 /dev/zero; printf y; head -c 65536 /dev/zero; } > zeros && "
	              "chmod 644 a.txt sub/in zeros && chmod 666 empty && chmod 600 secret && chmod 755 run.sh && "
	              "touch -h -d '2001-02-03 04:05:06' * sub/in && "
	              "cd .. && TZ=UTC zip -qry ../t.zip d"),
	          0);

	// The second time over the first, as on the next update: folders exist,
	// files and the link are replaced.
	ASSERT_EQ(make_folder(dir / "ours/"), 0);
	for (int pass = 0; pass < 2; ++pass) {
		std::string first;
		ASSERT_EQ(zip_to_file(dir / "t.zip", dir / "ours/", &first, 0), 0) << pass;
		EXPECT_EQ(first, "d/");
	}
	ASSERT_EQ(run("TZ=UTC unzip -q '" + dir / "t.zip" + "' -d '" + dir / "theirs" + "'"), 0);
	EXPECT_EQ(run("diff -r --no-dereference '" + dir / "ours" + "' '" + dir / "theirs" + "'"), 0);

	for (const char* rel : {"d", "d/sub", "d/a.txt", "d/secret", "d/run.sh", "d/empty", "d/sub/in", "d/ln", "d/zeros"}) {
		const std::string ours = dir / "ours/" + rel, theirs = dir / "theirs/" + rel;
		struct stat a, b;
		ASSERT_EQ(lstat(ours.c_str(), &a), 0) << rel;
		ASSERT_EQ(lstat(theirs.c_str(), &b), 0) << rel;
		EXPECT_EQ(a.st_mode & 0177777, b.st_mode & 0177777) << rel;
		if (S_ISREG(a.st_mode)) {
			EXPECT_LE(labs((long)(a.st_mtime - b.st_mtime)), 2) << rel;
		}
	}
}

TEST(ZipExtract, CraftedArchives)
{
	const auto old_file = [](const std::string& out) { write_file(out + "f", "old"); };
	const auto old_file_kept = [](const std::string& out) {
		EXPECT_EQ(read_file(out + "f"), "old");
		EXPECT_EQ(listing(out), "f\n");
	};
	const std::string record = fork_record("8");
	const struct {
		const char* what;
		std::string entries;
		std::function<void(const std::string& out)> before;
		int code;
		std::function<void(const std::string& out)> check;
		std::function<void(const std::string& zip)> patch = nullptr;
	} cases[] = {
		{"a '..' name lands nowhere", "[('../x', b'bad', 0o100644 << 16)]", nullptr, 20002,
		 [](const std::string& out) { EXPECT_FALSE(exists(out + "../x")); }},
		{"an absolute name lands nowhere", "[(OUT + '../abs', b'bad', 0o100644 << 16)]", nullptr, 20002,
		 [](const std::string& out) { EXPECT_FALSE(exists(out + "../abs")); }},
		{"a link in the way is not followed",
		 "[('l', b'..', 0xA1ED << 16), ('l/escaped', b'bad', 0o100644 << 16)]", nullptr, 20002,
		 [](const std::string& out) {
			 EXPECT_EQ(link_text(out + "l"), "..");
			 EXPECT_FALSE(exists(out + "../escaped"));
		 }},
		{"a 457-byte name, its leaf 255 bytes",
		 "[('a' * 100 + '/', b'', 0o40755 << 16), ('a' * 100 + '/' + 'b' * 100 + '/', b'', 0o40755 << 16),"
		 " ('a' * 100 + '/' + 'b' * 100 + '/' + 'c' * 255, b'long', 0o100644 << 16)]",
		 nullptr, 0,
		 [](const std::string& out) {
			 EXPECT_EQ(read_file(out + std::string(100, 'a') + "/" + std::string(100, 'b') + "/" +
			                     std::string(255, 'c')),
			           "long");
		 }},
		{"a fork record", "[('f', b'data', 0o100640 << 16), ('__MACOSX/', b'', 0o40755 << 16), ('__MACOSX/._f', " +
		                      record + ", 0)]",
		 nullptr, 0,
		 [](const std::string& out) {
			 FSRef ref{out + "f"};
			 std::string fork;
			 EXPECT_TRUE(plat_read_resource_fork(ref, &fork));
			 EXPECT_EQ(fork, "FORKDATA");
			 FileInfo fi;
			 plat_get_finder_info(ref, &fi);  // 'TEXT', 'ttxt', flags 0x100, at (0x10, 0x20)
			 EXPECT_TRUE(fi.fileType == 0x54455854 && fi.fileCreator == 0x74747874 && fi.finderFlags == 0x100 &&
			             fi.location_v == 0x10 && fi.location_h == 0x20);
			 EXPECT_EQ(read_file(out + "f"), "data");
			 EXPECT_EQ(mode_of(out + "f"), 0640u);
			 EXPECT_FALSE(exists(out + "__MACOSX"));
		 }},
		{"a fork record for a file outside", "[('__MACOSX/._../x', " + record + ", 0)]",
		 [](const std::string& out) { write_file(out + "../x", "outside"); }, 20012,
		 [](const std::string& out) { EXPECT_FALSE(exists(out + "../._x")); }},
		{"a fork record without its file is ignored", "[('__MACOSX/._gone', " + record + ", 0)]", nullptr, 0,
		 [](const std::string& out) { EXPECT_EQ(listing(out), ""); }},
		{"a fork reaching past its record", "[('f', b'data', 0o100644 << 16), ('__MACOSX/._f', " +
		                                        fork_record("1000") + ", 0)]",
		 nullptr, 20012, [](const std::string& out) { EXPECT_EQ(listing(out), "f\n"); }},
		{"a fork record whose header differs in its last byte",
		 "[('f', b'data', 0o100644 << 16), ('__MACOSX/._f', " +
		     fork_record("8", "b'\\x00\\x05\\x16\\x07\\x00\\x02' + bytes(17) + b'\\x01'") + ", 0)]",
		 nullptr, 20012, nullptr},
		{"a flipped byte keeps the old file", "[('f', b'PAYLOAD' * 10, 0o100644 << 16)]", old_file,
		 -105,  // minizip's CRC error
		 old_file_kept, [](const std::string& zip) { flip_byte(zip, "PAYLOADPAYLOAD"); }},
		{"a deflated entry short of its size keeps the old file",
		 "[('f', b'PAYLOAD' * 10, 0o100644 << 16, zipfile.ZIP_DEFLATED)]", old_file, 20002, old_file_kept,
		 [](const std::string& zip) {  // one more byte declared than the data holds
			 patch_field(zip, "PK\3\4", 22, [](uint32_t v) { return v + 1; });
			 patch_field(zip, "PK\1\2", 24, [](uint32_t v) { return v + 1; });
		 }},
		{"no attributes: the default mode and the extraction time", "[('f', b'plain', 0)]", nullptr, 0,
		 [](const std::string& out) {
			 struct stat st;
			 ASSERT_EQ(stat((out + "f").c_str(), &st), 0);
			 EXPECT_EQ(st.st_mode & 07777, 0666u);  // the table runs with no umask
			 EXPECT_GT(st.st_mtime, 1577923446 + 86400);  // a day after the entry's date
		 },
		 [](const std::string& zip) { patch_field(zip, "PK\1\2", 38, [](uint32_t) { return 0u; }); }},
		{"a sidecar that cannot be written leaves no scratch file",
		 "[('f', b'data', 0o100644 << 16), ('__MACOSX/._f', " + record + ", 0)]",
		 [](const std::string& out) { ASSERT_EQ(make_folder(out + "._f/"), 0); }, EISDIR,
		 [](const std::string& out) { EXPECT_EQ(listing(out), "._f\nf\n"); }},
		{"a replaced file's fork goes with it", "[('f', b'new', 0o100644 << 16)]",
		 [](const std::string& out) {
			 write_file(out + "f", "old");
			 ASSERT_EQ(plat_write_resource_fork(FSRef{out + "f"}, "OLD", 3), 0);
		 },
		 0, [](const std::string& out) { EXPECT_EQ(listing(out), "f\n"); }},
		{"a link replaces a read-only file", "[('ro', b'target', 0xA1ED << 16)]",
		 [](const std::string& out) {
			 write_file(out + "ro", "old");
			 chmod((out + "ro").c_str(), 0444);
		 },
		 0, [](const std::string& out) { EXPECT_EQ(link_text(out + "ro"), "target"); }},
		{"a file replaces a link, not its target", "[('ln', b'new', 0o100644 << 16)]",
		 [](const std::string& out) {
			 write_file(out + "../outside", "keep");
			 symlink("../outside", (out + "ln").c_str());
		 },
		 0,
		 [](const std::string& out) {
			 EXPECT_EQ(read_file(out + "ln"), "new");
			 EXPECT_EQ(read_file(out + "../outside"), "keep");
		 }},
	};
	const mode_t mask = umask(0);  // so that a default mode shows in full
	for (const auto& c : cases) {
		SCOPED_TRACE(c.what);
		TempDir dir;
		const std::string out = dir / "out/";
		ASSERT_EQ(make_folder(out), 0);
		std::string entries = c.entries;
		size_t at = entries.find("OUT + ");
		if (at != std::string::npos) entries.replace(at, 6, "'" + out + "' + ");
		craft_zip(dir / "c.zip", entries);
		if (c.patch) c.patch(dir / "c.zip");
		if (c.before) c.before(out);
		EXPECT_EQ(zip_to_file(dir / "c.zip", out, nullptr, 0), c.code);
		if (c.check) c.check(out);
	}
	umask(mask);

	TempDir dir;
	write_file(dir / "junk.zip", "not a zip");
	EXPECT_EQ(zip_to_file(dir / "junk.zip", dir.path(), nullptr, 0), 20001);
}

// A write past the file-size limit is a short write, as on a full disk: the
// old file stays and nothing half-written is left beside it.
TEST(Archives, ShortWriteKeepsTheOldFile)
{
	TempDir dir;
	ASSERT_EQ(make_folder(dir / "src/"), 0);
	write_file(dir / "src/big", std::string(300000, 'x'));
	ASSERT_EQ(run("cd '" + dir / "src" + "' && zip -q0 ../big.zip big && 7z a -mx0 ../big.7z big >/dev/null"), 0);
	signal(SIGXFSZ, SIG_IGN);
	const struct {
		const char* what;
		std::function<int(const std::string& out)> extract;
		int code;
	} cases[] = {
		{"zip", [&](const std::string& out) { return zip_to_file(dir / "big.zip", out, nullptr, 0); }, EFBIG},
		{"7z", [&](const std::string& out) { return p7z_to_file(dir / "big.7z", out, nullptr, 0); }, 20004},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.what);
		const std::string out = dir / (std::string(c.what) + "/");
		ASSERT_EQ(make_folder(out), 0);
		write_file(out + "big", "old");
		struct rlimit old_limit, limit;
		getrlimit(RLIMIT_FSIZE, &old_limit);
		limit = old_limit;
		limit.rlim_cur = 65536;
		setrlimit(RLIMIT_FSIZE, &limit);
		const int code = c.extract(out);
		setrlimit(RLIMIT_FSIZE, &old_limit);
		EXPECT_EQ(code, c.code);
		EXPECT_EQ(read_file(out + "big"), "old");
		EXPECT_EQ(listing(out), "big\n");
	}
}

TEST(ZipCreate, ReadByInfoZipBsdtarAndZipToFile)
{
	use_utc();
	TempDir dir;
	ASSERT_EQ(make_folder(dir / "src/"), 0);
	write_file(dir / "src/plain", "plain bytes");
	chmod((dir / "src/plain").c_str(), 0640);
	ASSERT_EQ(symlink("plain", (dir / "src/ln").c_str()), 0);
	write_file(dir / "src/forked", "with a fork");
	chmod((dir / "src/forked").c_str(), 0644);
	// Zip times have a resolution of 2 s.
	ASSERT_EQ(run("cd '" + dir / "src" + "' && touch -d '2003-04-05 06:07:08' plain forked"), 0);
	FSRef forked{dir / "src/forked"};
	ASSERT_EQ(plat_write_resource_fork(forked, "RSRC\0fork", 9), 0);
	ASSERT_EQ(plat_set_finder_info(forked, FileInfo{0x54455854, 0x74747874, 0x0100, 3, 4, 5}), 0);
	// The fork record as written: header, two entries, Finder information, fork.
	const std::string record = std::string("\0\5\x16\7\0\2\0\0", 8) + std::string(16, '\0') +
	                           std::string("\0\2\0\0\0\x09\0\0\0\x32\0\0\0\x20\0\0\0\2\0\0\0\x52\0\0\0\x09", 26) +
	                           std::string("TEXTttxt\1\0\0\3\0\4\0\5", 16) + std::string(16, '\0') +
	                           std::string("RSRC\0fork", 9);

	const struct {
		const char* leaf;
		const char* zipinfo;  // zipinfo's lines of its entries
	} cases[] = {
		{"plain", "-rw-r-----  3.0 unx       11 t- defN 03-Apr-05 06:07 plain\n"},
		{"ln", "lrwxr-xr-x  3.0 unx        5 b- stor 80-Jan-00 00:00 ln\n"},
		{"forked", "-rw-r--r--  3.0 unx       11 t- defN 03-Apr-05 06:07 forked\n"
		           "?---------  3.0 unx       91 b- defN 80-Jan-00 00:00 __MACOSX/._forked\n"},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.leaf);
		const std::string leaf = c.leaf, zip = dir / leaf + ".zip", src = dir / "src/" + leaf;
		ASSERT_EQ(file_to_zip(src, zip), 0);
		EXPECT_EQ(run("unzip -tq '" + zip + "'"), 0);
		std::string info;
		run("zipinfo '" + zip + "' | sed '1,2d;$d'", &info);
		EXPECT_EQ(info, c.zipinfo);

		for (const std::string& tool : {"unzip -q '" + zip + "' -d ", "bsdtar -xf '" + zip + "' -C "}) {
			const std::string out = dir / "tool/";
			ASSERT_EQ(run("rm -rf '" + out + "' && mkdir '" + out + "' && TZ=UTC " + tool + "'" + out + "'"), 0);
			EXPECT_EQ(link_text(out + leaf), link_text(src)) << tool;
			EXPECT_EQ(mode_of(out + leaf), mode_of(src)) << tool;
			if (link_text(src).empty()) {
				EXPECT_EQ(read_file(out + leaf), read_file(src)) << tool;
			}
			if (leaf == "forked") {
				EXPECT_EQ(read_file(out + "__MACOSX/._forked"), record) << tool;
			}
		}

		const std::string back = dir / "back/";
		run("rm -rf '" + back + "'");
		ASSERT_EQ(make_folder(back), 0);
		ASSERT_EQ(zip_to_file(zip, back, nullptr, 0), 0);
		EXPECT_EQ(link_text(back + leaf), link_text(src));
		EXPECT_EQ(mode_of(back + leaf), mode_of(src));
		struct stat a, b;
		if (link_text(src).empty() && stat((back + leaf).c_str(), &a) == 0 && stat(src.c_str(), &b) == 0) {
			EXPECT_EQ(read_file(back + leaf), read_file(src));
			EXPECT_EQ(a.st_mtime, b.st_mtime);
		}
		EXPECT_EQ(read_file(plat_sidecar_path(back + leaf)), read_file(plat_sidecar_path(src)));
	}
	EXPECT_EQ(file_to_zip(dir / "src/missing", dir / "missing.zip"), 20006);
}

TEST(P7z, FixturesMade7ZipLike7zX)
{
	TempDir dir;
	const std::string src = dir / "src/";
	ASSERT_EQ(run("mkdir -p '" + src + "dir' && cp /bin/ls '" + src + "prog' && head -c 200000 /dev/urandom > '" +
	              src + "rand' && : > '" + src + "empty' && printf in > '" + src + "dir/in' && printf u > '" + src +
	              "dir/\xc3\xa9t\xc3\xa9.txt' && ln -s ../Resources/readme.txt '" + src + "dir/ln'"),
	          0);
	const struct {
		const char* what;
		const char* options;
		const char* method;  // what "7z l -slt" must show
	} cases[] = {
		{"BCJ2", "-ms=on -m0=BCJ2 -m1=LZMA:d25 -m2=LZMA:d19 -m3=LZMA:d19 -mb0:1 -mb0s1:2 -mb0s2:3",
		 "Method = BCJ2 LZMA"},
		{"LZMA2", "-m0=LZMA2", "Method = LZMA2"},
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.what);
		const std::string arc = dir / c.what + ".7z";
		ASSERT_EQ(run("cd '" + src + "' && 7z a -t7z " + c.options + " '" + arc + "' prog rand empty dir >/dev/null"),
		          0);
		std::string slt;
		run("7z l -slt '" + arc + "'", &slt);
		ASSERT_NE(slt.find(c.method), std::string::npos) << slt;

		const std::string ours = dir / c.what + "-ours/", theirs = dir / c.what + "-theirs/";
		// A link comes out as a file holding its target text (7z x refuses this
		// one, which leaves its folder, and answers 2).
		ASSERT_EQ(run("mkdir -p '" + ours + "dir' && 7z x -o'" + theirs + "' '" + arc + "' >/dev/null 2>&1; cd '" +
		              theirs + "dir' && rm -f ln && printf ../Resources/readme.txt > ln"),
		          0);
		std::string last;
		ASSERT_EQ(p7z_to_file(arc, ours, &last, 0), 0);
		EXPECT_EQ(run("diff -r '" + ours + "' '" + theirs + "'"), 0);
		std::string name;  // the archive's last file
		run("7z l -slt '" + arc + "' | awk '/^Path = /{p=substr($0,8)} /^Attributes = [^D]/{f=p} END{printf \"%s\", f}'",
		    &name);
		EXPECT_EQ(last, ours + name);
	}

	// A name with ".." lands nowhere (bsdtar writes it as asked).
	ASSERT_EQ(run("cd '" + src + "' && bsdtar --format 7zip -P -s ',^,../,' -cf ../escape.7z empty"), 0);
	ASSERT_EQ(make_folder(dir / "esc/"), 0);
	EXPECT_EQ(p7z_to_file(dir / "escape.7z", dir / "esc/", nullptr, 0), 20002);
	EXPECT_FALSE(exists(dir / "empty"));

	// Files need their folders; an archive must be one.
	ASSERT_EQ(make_folder(dir / "nofolder/"), 0);
	EXPECT_EQ(p7z_to_file(dir / "LZMA2.7z", dir / "nofolder/", nullptr, 0), ENOENT);
	EXPECT_EQ(p7z_to_file(dir / "missing.7z", dir.path(), nullptr, 0), ENOENT);
	EXPECT_EQ(p7z_to_file(src + "rand", dir.path(), nullptr, 0), 20001);
}

TEST(P7z, DamagedDataFailsAndFileToP7zRoundTrips)
{
	TempDir dir;
	ASSERT_EQ(make_folder(dir / "src/"), 0);
	write_file(dir / "src/f", std::string(5000, 'Q') + "PAYLOADPAYLOAD" + std::string(5000, 'R'));
	ASSERT_EQ(file_to_p7z(dir / "src/f", dir / "f.7z") >> 8, 0);
	ASSERT_EQ(make_folder(dir / "back/"), 0);
	ASSERT_EQ(p7z_to_file(dir / "f.7z", dir / "back/", nullptr, 0), 0);
	EXPECT_EQ(read_file(dir / "back/f"), read_file(dir / "src/f"));

	ASSERT_EQ(run("cd '" + dir / "src" + "' && 7z a -mx0 ../stored.7z f >/dev/null"), 0);
	flip_byte(dir / "stored.7z", "PAYLOADPAYLOAD");
	ASSERT_EQ(make_folder(dir / "out/"), 0);
	write_file(dir / "out/f", "old");
	EXPECT_EQ(p7z_to_file(dir / "stored.7z", dir / "out/", nullptr, 0), 20002);
	EXPECT_EQ(read_file(dir / "out/f"), "old");
	EXPECT_EQ(listing(dir / "out"), "f\n");
}

// Fuzz findings, each refused as damaged before its entry's buffer is allocated:
// with too little address space for that buffer the answer is still the
// damage's code, not 12, and the old file stays.
TEST(ZipExtract, FindingsAreRefusedUnallocated)
{
	const struct {
		const char* finding;
		int         code;
	} cases[] = {
		{"declared-size-beyond-its-data", 20002},  // 4 GiB for 4 stored bytes
		{"zip64-stored-entry-declaring-1-tib", 20002},
		{"stored-entry-declaring-4-gib-in-both-records", 20002},  // minizip's own, in 225 bytes
		{"zip64-local-name-longer-than-central", -103},           // minizip's answer for a plain entry
	};
	for (const auto& c : cases) {
		SCOPED_TRACE(c.finding);
		TempDir dir;
		const std::string finding = read_file(ZUZ_SOURCE_DIR "/fuzz/findings/zip/" + std::string(c.finding));
		write_file(dir / "f.zip", finding.substr(1));
		ASSERT_EQ(make_folder(dir / "out/"), 0);
		write_file(dir / "out/f", "old");

		rlimit old;
		getrlimit(RLIMIT_AS, &old);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // both reserve terabytes up front
		long pages = 0;
		std::ifstream("/proc/self/statm") >> pages;
		const rlimit cut = {(rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (1u << 30), old.rlim_max};
		ASSERT_EQ(setrlimit(RLIMIT_AS, &cut), 0);
#endif
		const int code = zip_to_file(dir / "f.zip", dir / "out/", nullptr, 0);
		setrlimit(RLIMIT_AS, &old);
		EXPECT_EQ(code, c.code);
		EXPECT_EQ(read_file(dir / "out/f"), "old");
		EXPECT_EQ(listing(dir / "out/"), "f\n");
	}
}

// Entries that need the zip64 field: "huge.bin", 4 GiB and 12345 bytes deflated
// (zeros with marks at 3 GiB and at its end), then "after", deflated, and
// "damaged", whose CRC is wrong, both past 4 GiB behind a hole in the archive. The deflate stream repeats one MiB of
// zeros, each piece ending in a full flush, so the archive is made in seconds.
static const char* zip64_script = R"(import struct, sys, zlib
size, mark = (4 << 30) + 12345, 3 << 30
def piece(data, last=False):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush(zlib.Z_FINISH if last else zlib.Z_FULL_FLUSH)
zero = bytes(1 << 20)
island = b'island' + zero[6:]
tail = bytes(12345 - 4) + b'tail'
z, i = piece(zero), piece(island)
crc = 0
for n in range(4096):
    crc = zlib.crc32(island if n == mark >> 20 else zero, crc)
crc = zlib.crc32(tail, crc)
after = b'after the hole ' * 10
packed = zlib.compress(after)[2:-4]
def local(name, method, crc, csize, usize):
    return struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, method, 0, 0x5022, crc, csize, usize, len(name), 0) + name
def central(name, method, crc, csize, usize, at, extra):
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x31e, 45, 0, method, 0, 0x5022, crc, csize, usize,
                       len(name), len(extra), 0, 0, 0, 0o100644 << 16, at) + name + extra
with open(sys.argv[1], 'wb') as f:
    f.write(local(b'huge.bin', 8, crc, 0xFFFFFFFF, 0xFFFFFFFF))
    start = f.tell()
    for n in range(4096):
        f.write(i if n == mark >> 20 else z)
    f.write(piece(tail, True))
    csize = f.tell() - start
    at = 5 << 30
    f.seek(at)
    f.write(local(b'after', 8, zlib.crc32(after), len(packed), len(after)) + packed)
    damaged = f.tell()
    f.write(local(b'damaged', 0, zlib.crc32(after) ^ 1, len(after), len(after)) + after)
    cd = f.tell()
    f.write(central(b'huge.bin', 8, crc, 0xFFFFFFFF, 0xFFFFFFFF, 0, struct.pack('<HHQQ', 1, 16, size, csize)))
    f.write(central(b'after', 8, zlib.crc32(after), len(packed), len(after), 0xFFFFFFFF,
                    struct.pack('<HHQ', 1, 8, at)))
    f.write(central(b'damaged', 0, zlib.crc32(after) ^ 1, len(after), len(after), 0xFFFFFFFF,
                    struct.pack('<HHQ', 1, 8, damaged)))
    end = f.tell()
    f.write(struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, 3, 3, end - cd, cd))
    f.write(struct.pack('<IIQI', 0x07064b50, 0, end, 1))
    f.write(struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 3, 3, end - cd, 0xFFFFFFFF, 0))
)";

TEST(ZipExtract, EntriesOf4GiBAndPast4GiB)
{
	TempDir dir;
	write_file(dir / "zip64.py", zip64_script);
	ASSERT_EQ(run("python3 '" + dir / "zip64.py" + "' '" + dir / "z.zip" + "'"), 0);
	ASSERT_EQ(make_folder(dir / "out/"), 0);
	EXPECT_EQ(zip_to_file(dir / "z.zip", dir / "out/", nullptr, 0), -105);  // minizip's CRC error
	const off_t size = (4ll << 30) + 12345;
	std::ifstream f(dir / "out/huge.bin", std::ios::binary);
	char island[6] = {}, tail[5] = {};
	f.seekg(3ll << 30).read(island, 6);
	f.seekg(size - 5).read(tail, 5);
	EXPECT_EQ(std::string(island, 6), "island");
	EXPECT_EQ(std::string(tail, 5), std::string("\0tail", 5));
	EXPECT_EQ(f.seekg(0, std::ios::end).tellg(), (std::streamoff)size);
	std::string after;
	for (int n = 0; n < 10; ++n) after += "after the hole ";
	EXPECT_EQ(read_file(dir / "out/after"), after);
	EXPECT_EQ(listing(dir / "out/"), "after\nhuge.bin\n");
}

// A fork record without "._" in its name applies to nothing, even in a folder
// whose own path holds one: the file beside that folder gets no sidecar.
TEST(ZipExtract, ForkRecordWithoutItsPrefixTouchesNothing)
{
	TempDir dir;
	ASSERT_EQ(run("mkdir -p '" + dir / "x._y/out" + "' '" + dir / "xy/out" + "'"), 0);
	write_file(dir / "xy/out/f", "victim");
	craft_zip(dir / "c.zip", "[('__MACOSX/f', " + fork_record("8") + ", 0)]");
	EXPECT_EQ(zip_to_file(dir / "c.zip", dir / "x._y/out/", nullptr, 0), 0);
	std::string fork;
	EXPECT_FALSE(plat_read_resource_fork(FSRef{dir / "xy/out/f"}, &fork));
	EXPECT_EQ(listing(dir / "x._y/out/"), "");
}
