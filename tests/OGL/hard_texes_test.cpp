// The images built into the program: their upload at start-up, read back from
// Mesa, and their artwork, which the generator must reproduce.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/TEX_bind.h"
#include "OOPS_cpp/tman.h"
#include "hard_texes/hard_tex_layout.h"
#include "hard_texes/hard_texes.h"
#include "../TEX/tex_tools.h"
#include "gl_test_context.h"
#include "tex_readback.h"

using namespace tex_test;

namespace {

const char* const hard_name = "scratch_array:hardwired textures";

const unsigned char* sheet_texel(int x, int y)
{
	return t_interface_dat + ((size_t)y * hard_tex::sheet_size + x) * 4;
}

}  // namespace

TEST(BuiltInImages, UploadedAsTheirRefs)
{
	gl_test_context();
	memset(scratch_array, 0x5A, 4 << 20);  // whatever used the buffer before
	recall_ins_texes();
	ASSERT_EQ(tman.ref_dat.size(), 395u);
	EXPECT_EQ(tex_hash.at(hard_name), 393);
	EXPECT_EQ(tman.loaded_texes(), 3);

	struct row {
		int ref, img_w, img_h;
		const unsigned char* data;
		size_t bytes;
		GLint filter;
	};
	const row rows[] = {
		{393, 1010, 764, t_installer_dat, (size_t)t_installer_bytes, GL_LINEAR},
		{394, 1024, 768, t_ins_back_1_dat, (size_t)t_ins_back_1_bytes, GL_LINEAR},
		{392, 512, 512, t_interface_dat, (size_t)t_interface_bytes, GL_NEAREST},
	};
	for (const row& r : rows) {
		SCOPED_TRACE(r.ref);
		const ref_dat_struct& s = tman.ref_dat[r.ref];
		EXPECT_EQ(s.img_dx, r.img_w);
		EXPECT_EQ(s.img_dy, r.img_h);
		const int side = r.ref == 392 ? 512 : 1024;
		EXPECT_EQ(s.tex_dx, side);
		EXPECT_EQ(s.tex_dy, side);
		EXPECT_EQ(tex_param(r.ref, GL_TEXTURE_MIN_FILTER), r.filter);
		EXPECT_EQ(tex_param(r.ref, GL_TEXTURE_MAG_FILTER), r.filter);
		// The array's bytes, then transparent black: 393 from pixel 771,640 (row 753, column 568).
		const std::vector<unsigned char> px = read_tex(r.ref, GL_RGBA, 4);
		EXPECT_EQ(memcmp(px.data(), r.data, r.bytes), 0);
		size_t stray = 0;
		for (size_t i = r.bytes; i < px.size(); ++i) stray += px[i] != 0;
		EXPECT_EQ(stray, 0u);
	}
	EXPECT_EQ(t_installer_bytes, 771640 * 4);
	EXPECT_EQ(scratch_dx, 512);
	EXPECT_EQ(memcmp(scratch_array, t_interface_dat, t_interface_bytes), 0) << "the sheet stays for the palette";

	// Unloading 394 leaves the shared name with 393.
	tman.unload_texture(394);
	EXPECT_EQ(tex_hash.at(hard_name), 393);
	recall_ins_texes();
	EXPECT_EQ(tman.loaded_texes(), 3);
}

// A glyph cell drawn 1:1 with nearest filtering equals the same texels copied on the CPU.
TEST(BuiltInImages, GlyphCellsDrawAsTheirTexels)
{
	gl_test_context();
	if (tman.ref_dat.size() < 395) recall_ins_texes();
	using hard_tex::cell_h;
	using hard_tex::cell_w;
	pixel_projection(1024, 768);
	glEnable(GL_TEXTURE_2D);
	for (int byte : {0x41, 0x67, 0x2E, 0xE9, 0xFB}) {  // A g . e-acute inverted !
		const hard_tex::glyph* g = nullptr;
		for (const hard_tex::glyph& e : hard_tex::glyphs)
			if (e.byte == byte) g = &e;
		ASSERT_TRUE(g);
		const float s = g->col * cell_w / 512.0f, t = g->row * cell_h / 512.0f;
		const float ds = cell_w / 512.0f, dt = cell_h / 512.0f;
		glClearColor(0.5f, 0.5f, 0.5f, 0.5f);
		glClear(GL_COLOR_BUFFER_BIT);
		tman.bind_ref(392, 0, GL_REPLACE);
		glBegin(GL_QUADS);
		glTexCoord2f(s, t), glVertex2f(100, 200);
		glTexCoord2f(s, t + dt), glVertex2f(100, 200 + cell_h);
		glTexCoord2f(s + ds, t + dt), glVertex2f(100 + cell_w, 200 + cell_h);
		glTexCoord2f(s + ds, t), glVertex2f(100 + cell_w, 200);
		glEnd();
		std::vector<unsigned char> drawn(cell_w * cell_h * 4), copied;
		glPixelStorei(GL_PACK_ALIGNMENT, 1);
		glReadPixels(100, 200, cell_w, cell_h, GL_RGBA, GL_UNSIGNED_BYTE, drawn.data());
		for (int y = 0; y < cell_h; ++y)
			copied.insert(copied.end(), sheet_texel(g->col * cell_w, g->row * cell_h + y),
			              sheet_texel(g->col * cell_w, g->row * cell_h + y) + cell_w * 4);
		expect_pixels("glyph " + std::to_string(byte), std::string(copied.begin(), copied.end()), drawn.data(),
		              drawn.size());
	}
	glDisable(GL_TEXTURE_2D);
	tman.bind_ref(392, 0, 0);
}

// What the text and widget code rely on in the artwork.
TEST(BuiltInImages, SheetHoldsTheFontAndTheFrame)
{
	using namespace hard_tex;
	ASSERT_EQ(glyph_count, 105);
	for (const glyph& g : glyphs) {
		SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << (int)g.byte);
		int ink = 0, outside = 0, first_col = cell_w;
		for (int y = 0; y < cell_h; ++y)
			for (int x = 0; x < cell_w; ++x)
				if (sheet_texel(g.col * cell_w + x, g.row * cell_h + y)[3]) {
					++ink;
					outside += x >= g.advance;
					first_col = std::min(first_col, x);
				}
		EXPECT_EQ(outside, 0) << "ink past the advance";
		EXPECT_EQ(ink > 0, g.byte != ' ');
		if (g.byte == '.' || g.byte == ',') {
			EXPECT_EQ(first_col, 0);
		}
	}
	// The frame's middle is the same in every column, so it stretches.
	for (int x = frame9.x + frame9_cap; x < frame9.x + frame9.w - frame9_cap; ++x)
		for (int y = frame9.y; y < frame9.y + frame9.h; ++y)
			ASSERT_EQ(memcmp(sheet_texel(x, y), sheet_texel(frame9.x + frame9_cap, y), 4), 0) << x << "," << y;
}

TEST(BuiltInImages, GeneratorReproducesTheCommittedArtwork)
{
	zuz_test::TempDir tmp;
	sh(std::string(ZUZ_HARD_TEX_GEN) + " " + tmp.path());
	for (const char* name : {"t_interface.png", "t_installer.png", "t_ins_back_1.png"}) {
		const std::string committed = magick_pixels(std::string(ZUZ_SOURCE_DIR) + "/ZUzuvir/hard_texes/" + name);
		const std::string made = magick_pixels(tmp / name);
		ASSERT_FALSE(committed.empty()) << name;
		EXPECT_TRUE(made == committed) << name << " differs from what the generator draws";
	}
}
