// The texture manager on Mesa: files made and decoded by ImageMagick, textures
// read back with glGetTexImage.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "GenC/hl_globals.h"
#include "OGL/OGL_extensions.h"
#include "OOPS_cpp/TEX_bind.h"
#include "OOPS_cpp/tman.h"
#include "UTL/UTL_stats.h"
#include "../TEX/tex_tools.h"
#include "gl_test_context.h"
#include "tex_readback.h"

using namespace tex_test;

namespace {

// The w x h corner of a texture tex_w wide.
std::vector<unsigned char> corner(const std::vector<unsigned char>& tex, int tex_w, int w, int h, int bpp)
{
	std::vector<unsigned char> out;
	for (int y = 0; y < h; ++y)
		out.insert(out.end(), tex.begin() + (size_t)y * tex_w * bpp, tex.begin() + ((size_t)y * tex_w + w) * bpp);
	return out;
}

// An image of w x h noise in scratch_array, as a caller places one.
std::vector<unsigned char> in_scratch(int w, int h, int bpp, unsigned seed)
{
	std::vector<unsigned char> v = noise((size_t)w * h * bpp, seed);
	memcpy(scratch_array, v.data(), v.size());
	scratch_dx = w;
	scratch_dy = h;
	return v;
}

std::string escaped(const std::string& s)
{
	std::string out;
	for (char c : s) {
		if (strchr(".^$|()[]{}*+?\\", c)) out += '\\';
		out += c;
	}
	return out;
}

struct res_level {
	explicit res_level(int level) { mnw.tex_res_level = level; }
	~res_level() { mnw.tex_res_level = 5; }
};

}  // namespace

// 300 x 200 is no power of two: decoded rows are padded to 512 and must be
// repacked to the texture's width, whole or shrunk (the stride fault).
TEST(TextureManager, PngAtResolutionLevelsAgainstImageMagick)
{
	gl_test_context();
	zuz_test::TempDir tmp;
	const std::string png = tmp / "noise.png", shrunk = tmp / "shrunk.png";
	sh(im + " -size 300x200 xc: -seed 3 +noise Random -type TrueColor" + im_png + "PNG24:" + png);
	sh(im + " " + png + " -scale 75x50! " + im_png + "PNG24:" + shrunk);
	struct row {
		int level, flags;
		int tex_w, tex_h, img_w, img_h;
		std::string expected;  // ImageMagick's pixels of the used part
		int tolerance;
	};
	const row rows[] = {
		{5, 1, 512, 256, 300, 200, png, 0},
		{3, 1, 128, 64, 75, 50, shrunk, 1},       // a 4 x 4 box, rounded there, truncated here
		{5, 0x2001, 300, 200, 300, 200, png, 0},  // non-power-of-two allowed
		{4, 0x2081, 75, 50, 75, 50, shrunk, 1},   // half of half
	};
	tman_class t;
	for (const row& r : rows) {
		SCOPED_TRACE(testing::Message() << "level " << r.level << " flags " << r.flags);
		res_level level(r.level);
		ASSERT_EQ(t.load_texture(tex_fail_scene, 500, r.flags, tex_load_now, png), 500);
		EXPECT_EQ(level_param(500, 0, GL_TEXTURE_WIDTH), r.tex_w);
		EXPECT_EQ(level_param(500, 0, GL_TEXTURE_HEIGHT), r.tex_h);
		EXPECT_EQ(t.ref_dat[500].img_dx, r.img_w);
		EXPECT_EQ(t.ref_dat[500].img_dy, r.img_h);
		EXPECT_EQ(t.ref_dat[500].vram, r.tex_w * r.tex_h * 3);
		const std::vector<unsigned char> tex = read_tex(500, GL_RGB, 3);
		const std::vector<unsigned char> used = corner(tex, r.tex_w, r.img_w, r.img_h, 3);
		expect_pixels("used part", magick_pixels(r.expected, "rgb"), used.data(), used.size(), r.tolerance);
		// The rest of the texture is clear, not left-over rows.
		size_t stray = 0;
		for (size_t i = 0; i < tex.size(); ++i)
			if ((i / 3) % r.tex_w >= (size_t)r.img_w || (i / 3) / r.tex_w >= (size_t)r.img_h) stray += tex[i] != 0;
		EXPECT_EQ(stray, 0u);
	}
	EXPECT_EQ(t.loaded_texes(), 1);
	EXPECT_FALSE(t.has_scene_load_fail());
	t.unload_texture(500);
}

TEST(TextureManager, Dxt5ChainUploadsCompressed)
{
	gl_test_context();
	zuz_test::TempDir tmp;
	const std::string dds = tmp / "t5.dds";
	sh(im + " -size 64x64 xc:gray -alpha set -seed 5 -channel RGBA +noise Random -define dds:compression=dxt5"
	        " -define dds:mipmaps=6 " + dds);
	struct row {
		int level, size;  // resolution level, texture side
	};
	for (const row& r : {row{5, 64}, row{4, 32}}) {
		SCOPED_TRACE(r.level);
		res_level level(r.level);
		tman_class t;
		ASSERT_EQ(t.load_texture(tex_fail_scene, 501, 0x0A, tex_load_now, tmp / "t5.png"), 501);
		EXPECT_EQ(level_param(501, 0, GL_TEXTURE_INTERNAL_FORMAT), GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
		int levels = 0, bytes = 0;
		for (int s = r.size; s >= 1; s /= 2, ++levels) {
			EXPECT_EQ(level_param(501, levels, GL_TEXTURE_WIDTH), s);
			bytes += level_param(501, levels, GL_TEXTURE_COMPRESSED_IMAGE_SIZE);
		}
		EXPECT_EQ(t.ref_dat[501].vram, bytes);
		EXPECT_EQ(t.ref_dat[501].format, GL_COMPRESSED_RGBA_S3TC_DXT5_EXT);
		if (r.level == 5) {
			const std::vector<unsigned char> px = read_tex(501, GL_RGBA, 4);
			expect_pixels("level 0", magick_pixels(dds), px.data(), px.size(), 3);
		}
		t.unload_texture(501);
	}
}

// Row lengths that are no multiple of 4 (GL_UNPACK_ALIGNMENT 1), an update in
// place, and an upload while "perf/kill_tex" swaps binds for the placeholder.
TEST(TextureManager, SmallUploadsReadBackExactly)
{
	gl_test_context();
	struct row {
		int flags, w, h, bpp;
		GLenum format;
		bool kill;
	};
	const row rows[] = {
		{0x101, 2, 2, 3, GL_RGB, false},  {0x103, 2, 4, 1, GL_ALPHA, false}, {0x101, 1, 8, 3, GL_RGB, false},
		{0x101, 2, 2, 3, GL_RGB, false},  // same size and format again: updated in place
		{0x102, 4, 2, 4, GL_RGBA, true},
		{0x101, 2048, 1, 3, GL_RGB, false},  // at both limits: 2048 and the GL's largest size
	};
	const int gl_max = glExt.max_tex_size;
	glExt.max_tex_size = 2048;
	tman_class t;
	unsigned seed = 1;
	for (const row& r : rows) {
		SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << " flags " << r.flags);
		const std::vector<unsigned char> img = in_scratch(r.w, r.h, r.bpp, seed++);
		*gKillTex.value = r.kill;
		ASSERT_EQ(t.load_texture(tex_fail_silent, 502, r.flags, tex_load_now, "scratch_array:small"), 502);
		*gKillTex.value = 0;
		const std::vector<unsigned char> px = read_tex(502, r.format, r.bpp);
		expect_pixels("texture", std::string(img.begin(), img.end()), px.data(), px.size());
		EXPECT_EQ(level_param(930, 0, GL_TEXTURE_WIDTH), 0) << "the placeholder got the upload";
	}
	glExt.max_tex_size = gl_max;
	t.unload_texture(502);
}

TEST(TextureManager, ScaleAndSizesOfAnImage)
{
	const struct {
		int   level, flags, fixed, dx, dy, max;
		float scale;
		int   img_dx, img_dy, tex_dx, tex_dy;
	} rows[] = {
		{0, 0, 2, 16, 4, 0, 0.25f, 4, 1, 4, 1},               // raised to keep a whole pixel a side
		{0, 0, 2, 4, 16, 0, 0.25f, 1, 4, 1, 4},
		{3, 0x40, 2, 301, 203, 0, 0.5f, 150, 101, 256, 128},  // twice the level's scale, truncated
		{3, 0x100, 2, 300, 200, 0, 1, 300, 200, 512, 256},    // full size asked for
		{3, 0, 1, 300, 200, 0, 1, 300, 200, 512, 256},        // an image in memory
		{5, 0, 2, 2048, 4, 1024, 0.5f, 1024, 2, 1024, 2},     // halved to the GL's largest size
	};
	const int gl_max = glExt.max_tex_size;
	for (const auto& r : rows) {
		res_level level(r.level);
		glExt.max_tex_size = r.max;
		int img_dx, img_dy, tex_dx, tex_dy;
		const float scale = TEX_get_scale("f", 500, r.flags, r.dx, r.dy, &img_dx, &img_dy, &tex_dx, &tex_dy, r.fixed);
		EXPECT_EQ(scale, r.scale) << r.dx << "x" << r.dy;
		EXPECT_EQ(std::vector<int>({img_dx, img_dy, tex_dx, tex_dy}),
		          std::vector<int>({r.img_dx, r.img_dy, r.tex_dx, r.tex_dy}))
			<< r.dx << "x" << r.dy;
	}
	glExt.max_tex_size = gl_max;
}

TEST(TextureManager, SlotsRefsAndNames)
{
	gl_test_context();
	in_scratch(2, 2, 4, 9);
	tman_class t;
	const int rgba = 0x102;
	auto dyn = [&](const std::string& name) { return t.load_texture(tex_fail_silent, 0, rgba, tex_load_now, name); };

	EXPECT_EQ(t.load_texture(tex_fail_silent, 0, rgba, tex_load_now, ""), 0);
	EXPECT_EQ(t.ref_dat.size(), 0u);
	EXPECT_EQ(t.tot_vram(), (long long)mnw.pix_dx * mnw.pix_dy * mnw.pix_depth / 8);

	EXPECT_EQ(t.load_texture(tex_fail_silent, 399, rgba, tex_load_now, "scratch_array:m"), 399);
	EXPECT_EQ(t.ref_dat.size(), 400u);
	EXPECT_EQ(dyn("scratch_array:a"), 1135);
	EXPECT_EQ(t.ref_dat.size(), 1136u);
	for (int i = 400; i < 1135; ++i) ASSERT_EQ(t.ref_dat[i].format, 0) << i;
	EXPECT_EQ(t.ref_dat[1000].name, "un-inited");
	EXPECT_EQ(dyn("scratch_array:a"), 1135);
	EXPECT_EQ(t.ref_dat[1135].refcount, 2);
	EXPECT_EQ(dyn("scratch_array:b"), 1136);
	EXPECT_EQ(dyn("scratch_array:c"), 1137);
	EXPECT_EQ(t.total_texes(), 4);
	EXPECT_EQ(t.loaded_texes(), 4);
	EXPECT_EQ(t.tot_vram(), (long long)mnw.pix_dx * mnw.pix_dy * mnw.pix_depth / 8 + 4 * 16);

	// Purged: 1135 and 1137; the next dynamic ref is the highest free one.
	t.release_texture(1135);
	t.release_texture(1135);
	t.release_texture(1137);
	t.purge_unused_texes();
	EXPECT_FALSE(glIsTexture(1135));
	EXPECT_TRUE(glIsTexture(1136));
	EXPECT_EQ(t.total_texes(), 2);
	EXPECT_EQ(tex_hash.count("scratch_array:a"), 0u);
	EXPECT_EQ(dyn("scratch_array:d"), 1137);

	// A manual ref found by name counts from -1.
	EXPECT_EQ(dyn("scratch_array:m"), 399);
	EXPECT_EQ(t.ref_dat[399].refcount, 0);
	// Unloaded and loaded again under a new name: found by the new name only.
	t.unload_texture(399);
	EXPECT_EQ(t.load_texture(tex_fail_silent, 399, rgba, tex_load_now, "scratch_array:n"), 399);
	EXPECT_EQ(tex_hash.count("scratch_array:m"), 0u);
	EXPECT_EQ(tex_hash.at("scratch_array:n"), 399);

	// Three slots of one name: the first keeps the name; unloading another leaves it.
	for (int ref : {700, 701, 702}) t.load_texture(tex_fail_silent, ref, rgba, tex_load_now, "scratch_array:same");
	EXPECT_EQ(tex_hash.at("scratch_array:same"), 700);
	t.unload_texture(701);
	EXPECT_EQ(tex_hash.at("scratch_array:same"), 700);
	t.unload_texture(700);
	EXPECT_EQ(tex_hash.count("scratch_array:same"), 0u);

	// Past the table binds the placeholder.
	t.bind_ref(5000, 0, 0);
	GLint bound = 0;
	glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
	EXPECT_EQ(bound, 930);

	for (int ref : {399, 702}) t.unload_texture(ref);
	for (int ref : {1136, 1137}) t.release_texture(ref);
	t.purge_unused_texes();
	EXPECT_EQ(t.total_texes(), 0);
	EXPECT_EQ(t.loaded_texes(), 0);
	EXPECT_EQ(tex_hash.count("scratch_array:n") + tex_hash.count("scratch_array:d"), 0u);
}

// Images that do not fit the 16 MiB decode buffer are refused before decoding;
// a failed load leaves a defined slot and gives back the texture it replaces.
TEST(TextureManager, FailedLoadsShowNothingAndLeakNothing)
{
	gl_test_context();
	zuz_test::TempDir tmp;
	zuz_test::LogCapture log;
	sh(im + " -size 2100x2100 xc:white" + im_png + tmp / "big.png");
	sh(im + " -size 2048x2048 xc:red -alpha set -define dds:compression=none -define dds:mipmaps=11 " +
	   tmp / "chain.dds");
	sh(im + " -size 64x64 xc:gray -define dds:compression=dxt5 -define dds:mipmaps=6 " + tmp / "whole.dds");
	const std::string whole = zuz_test::read_file(tmp / "whole.dds");
	zuz_test::write_file(tmp / "short.dds", whole.substr(0, whole.size() - 100));
	const std::string missing[] = {tmp / "big.png", tmp / "chain.dds", tmp / "short.dds", tmp / "none.png"};

	tman_class t;
	for (const std::string& name : missing) {
		SCOPED_TRACE(name);
		in_scratch(4, 4, 4, 3);
		ASSERT_EQ(t.load_texture(tex_fail_scene, 600, 0x102, tex_load_now, "scratch_array:ok"), 600);
		EXPECT_TRUE(glIsTexture(600));
		EXPECT_EQ(t.load_texture(tex_fail_scene, 600, 0x102, tex_load_now, name), 0);
		const ref_dat_struct& s = t.ref_dat[600];
		EXPECT_FALSE(glIsTexture(600)) << "the replaced texture was kept";
		EXPECT_EQ(t.loaded_texes(), 0);
		EXPECT_EQ(t.total_texes(), 1);
		EXPECT_EQ(s.gl_tex, 0);
		EXPECT_EQ(s.tex_dx, 0);
		EXPECT_EQ(s.vram, 0);
		EXPECT_EQ(s.state, tex_load_now);
		EXPECT_EQ(tex_hash.at(name), 600);
		EXPECT_NE(log.text().find("WARNING: we are missing the texture: " + name + ".\n"), std::string::npos);
		t.bind_ref(600, 0, 0);
	}
	EXPECT_TRUE(t.has_scene_load_fail());
	t.mute_scene_load_fail();
	t.load_texture(tex_fail_scene, 601, 0x102, tex_load_now, tmp / "none.png");
	EXPECT_EQ(t.scene_load_fail, 2) << "a muted failure stays muted";
	t.unload_texture(600);
	t.unload_texture(601);
	EXPECT_EQ(t.total_texes(), 0);
	EXPECT_EQ(tex_hash.count(tmp / "none.png"), 0u);
}

TEST(TextureManagerDeathTest, FatalChecks)
{
	GTEST_FLAG_SET(death_test_style, "threadsafe");
	gl_test_context();
	struct row {
		std::function<void()> call;
		std::string message;
	};
	const row rows[] = {
		{[] { tman_class().unload_texture(1135); }, "Error: dynamic textures should be released, not unloaded."},
		{[] { tman_class().release_texture(1134); }, "Trying to release a manual texture - use unload_texture."},
		{[] {
			 tman_class t;
			 in_scratch(2, 2, 4, 1);
			 t.release_texture(t.load_texture(tex_fail_silent, 0, 0x102, tex_load_now, "scratch_array:r"));
			 t.release_texture(1135);
		 },
		 "Ref count went negative"},
		{[] { tman_class().load_texture(tex_fail_silent, 3, 0x100, tex_load_now, "scratch_array:c"); },
		 "BAD color enum for tman - see tman for valid colors!  We cannot pass 0."},
		{[] { tman_class().load_texture(tex_fail_silent, 1136, 2, tex_load_now, "x"); },
		 "Trying to bind too low or high a manual_ref!\nx\nvalue:\n1136"},
		{[] { tman_class().load_texture(tex_fail_silent, 3, 2, (tex_load_time)99, "x"); },
		 "Trying to create an invalid texture load_time!"},
		{[] { tman_class().load_texture(tex_fail_silent, 3, 16384, tex_load_now, "x"); },
		 "Trying to bind an invalid filter type!"},
		{[] {
			 in_scratch(2049, 1, 4, 1);
			 tman_class().load_texture(tex_fail_silent, 3, 2, tex_load_now, "scratch_array:w");
		 },
		 "Trying to create a texture either less than 1 or greater than 2048!\nscratch_array:w\nvalue:\n2049"},
		{[] {
			 scratch_dx = 1, scratch_dy = 0;
			 tman_class().load_texture(tex_fail_silent, 3, 2, tex_load_now, "scratch_array:h");
		 },
		 "Trying to create a texture either less than 1 or greater than 2048!\nscratch_array:h\nvalue:\n0"},
		{[] { tman_class().load_texture(tex_fail_fatal, 3, 2, tex_load_now, "/no/such.png"); },
		 "Trying to load a texture that you do not have!"},
		{[] {
			 tman_class t;
			 in_scratch(2, 2, 4, 1);
			 t.load_texture(tex_fail_silent, 9, 0x102, tex_load_now, "scratch_array:u");
			 t.bind_ref(5, 0, 0);
		 },
		 "missing non-scenery texture - how?\nref=     5\nun-inited"},
	};
	for (const row& r : rows)
		EXPECT_EXIT(r.call(), testing::ExitedWithCode(1),
		            "FATAL ERROR \\(ZUzuvir/OOPS_cpp/tman, line [0-9]+\\)\n" + escaped(r.message));
}
