#include "OOPS_cpp/tman.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "GenC/MACIBM_alert.h"
#include "GenC/MACIBM_init.h"
#include "OGL/OGL_extensions.h"
#include "OGL/OGL_setstate.h"
#include "OOPS_cpp/TEX_bind.h"
#include "OOPS_cpp/xmap.h"
#include "OOPS_cpp/xtim.h"
#include "TEX/TEX_bmp.h"
#include "TEX/TEX_dds.h"
#include "TEX/TEX_png.h"
#include "TEX/TEX_utils.h"
#include "UTL/UTL_cmdline.h"
#include "UTL/UTL_thread.h"

std::unordered_map<std::string, int> tex_hash(193);

alignas(16) unsigned char scratch_array_temp[scratch_array_temp_bytes];
int scratch_dx = 0, scratch_dy = 0;
int maxtexdim = 0;
tex_load_vars async_vars;

namespace {

const char* const tman_src = "ZUzuvir/OOPS_cpp/tman";

void fatal(const std::string& a, const std::string& b, const std::string& c, const std::string& d, int line)
{
	__MACIBM_alert(0, a, b, c, d, t_exit, tman_src, line);
}

std::string fmt(const char* format, double v)
{
	char buf[64];
	snprintf(buf, sizeof buf, format, v);
	return buf;
}

bool is_scratch_name(const std::string& name)
{
	return name.compare(0, 13, "scratch_array") == 0;
}

// Refs whose loads never show the start-up message.
bool quiet_ref(int ref)
{
	return ref == 0 || ref == 312 || ref == 392 || ref == 396 || ref == tex_placeholder_ref ||
	       (ref >= 427 && ref <= 442);
}

bool nearest_ref(int ref)
{
	return ref == 392 || ref == 419 || ref == 425 || ref == 426 || (ref >= 427 && ref <= 442);
}

struct tman_lock {
	explicit tman_lock(pthread_mutex_t* in) : m(in) { UTL_critical_section_lock(m); }
	~tman_lock() { UTL_critical_section_unlock(m); }
	pthread_mutex_t* m;
};

// Erases the name only where it points at this slot: the built-in images share one name.
void erase_name(const std::string& name, int ref)
{
	auto it = tex_hash.find(name);
	if (it != tex_hash.end() && it->second == ref) tex_hash.erase(it);
}

// A deleted texture name may be made again by a later load: no unit may still
// claim to hold it, or that load's bind would be skipped.
void delete_gl_texture(int tex)
{
	const GLuint t = (GLuint)tex;
	glDeleteTextures(1, &t);
	for (int& held : o_tex)
		if (held == tex) held = -1;
}

int bytes_for_format(int format)
{
	switch (format) {
	case GL_RGBA:
	case GL_BGRA:
	case GL_COMPRESSED_RGBA_S3TC_DXT1_EXT:
	case GL_COMPRESSED_RGBA_S3TC_DXT3_EXT:
	case GL_COMPRESSED_RGBA_S3TC_DXT5_EXT: return 4;
	case GL_RGB:
	case GL_BGR:
	case GL_COMPRESSED_RGB_S3TC_DXT1_EXT: return 3;
	}
	return 1;
}

// The rows of a decoded (and maybe shrunk) image, w pixels used of `stride` bytes,
// moved to rows of the texture's width; the rest of the texture is cleared. The
// move runs forwards and every row only moves down, as the texture's rows are
// never wider than the decoded ones.
void repack_rows(unsigned char* data, int w, int h, size_t stride, int bpp, int tex_dx, int tex_dy)
{
	const size_t out_row = (size_t)tex_dx * bpp, used = (size_t)std::min(w, tex_dx) * bpp;
	const int rows = std::min(h, tex_dy);
	if (stride != out_row)
		for (int r = 0; r < rows; ++r) memmove(data + r * out_row, data + r * stride, used);
	if (used < out_row)
		for (int r = 0; r < rows; ++r) memset(data + r * out_row + used, 0, out_row - used);
	if (rows < tex_dy) memset(data + rows * out_row, 0, (tex_dy - rows) * out_row);
}

// Transparent pixels take the mean colour of the visible ones within two pixels,
// so filtering at the edge of a cut-out does not pull in their colour.
void alpha_bleed(unsigned char* px, int w, int h)
{
	for (int y = 0; y < h; ++y)
		for (int x = 0; x < w; ++x) {
			unsigned char* p = px + ((size_t)y * w + x) * 4;
			if (p[3] != 0) continue;
			int sum[3] = {0, 0, 0}, n = 0;
			for (int yy = std::max(y - 2, 0); yy <= std::min(y + 2, h - 1); ++yy)
				for (int xx = std::max(x - 2, 0); xx <= std::min(x + 2, w - 1); ++xx) {
					const unsigned char* q = px + ((size_t)yy * w + xx) * 4;
					if (q[3] == 0) continue;
					for (int c = 0; c < 3; ++c) sum[c] += q[c];
					++n;
				}
			if (n)
				for (int c = 0; c < 3; ++c) p[c] = (unsigned char)(sum[c] / n);
		}
}

std::atomic<long long> last_load_call{0};  // microseconds

}  // namespace

tman_class::tman_class()
	: async_cursor(0), m_loaded_texes(0), m_total_texes(0), scene_load_fail(0), plane_load_fail(0),
	  instl_load_fail(0), async_vars_ptr(nullptr), async_result(0), force_finish(nullptr)
{
	UTL_critical_section_create(&lock);
}

tman_class::~tman_class()
{
	UTL_critical_section_destroy(&lock);
}

// ---- the table

int tman_class::load_texture(tex_fail_mode mode, int ref, int flags, tex_load_time when, const std::string& name)
{
	if (name.empty()) return 0;

	const long long now = xtim_class::microsecs();
	const long long previous = last_load_call.exchange(now);
	if (when == tex_load_now && now - previous > 1000000 && !is_scratch_name(name) && !quiet_ref(ref))
		MACIBM_show_init("Loading bitmap " + name + ".", nullptr);

	tman_lock hold(&lock);
	if (when < tex_load_now || when > tex_unloaded)
		fatal("Trying to create an invalid texture load_time!", name, "value:", fmt("%1.0f", when), __LINE__);
	if (ref < 0 || ref > tex_first_dynamic)
		fatal("Trying to bind too low or high a manual_ref!", name, "value:", fmt("%1.0f", ref), __LINE__);

	int slot = ref;
	if (ref == 0) {
		auto found = tex_hash.find(name);
		if (found != tex_hash.end()) {
			const int got = found->second;
			ref_dat[got].refcount += 1;
			if (ref_dat[got].state != tex_load_now) return load_texture_int(mode, got, flags, name);
			return got;
		}
		slot = -1;
		for (int i = (int)ref_dat.size() - 1; i >= tex_first_dynamic && slot < 0; --i)
			if (ref_dat[i].format == 0) slot = i;
		if (slot < 0) slot = std::max((int)ref_dat.size(), tex_first_dynamic);
	}
	if (slot >= (int)ref_dat.size()) ref_dat.resize(slot + 1);

	ref_dat_struct& s = ref_dat[slot];
	erase_name(s.name, slot);
	tex_hash.insert({name, slot});
	if (s.format == 0) {
		s.name = name;
		s.state = tex_load_now;
		s.gl_tex = 0;
		s.img_dx = s.img_dy = s.tex_dx = s.tex_dy = 0;
		s.refcount = ref == 0 ? 1 : -1;
		s.flags = flags;
		s.fail_mode = mode;
		s.format = GL_RGBA;
		s.vram = 0;
		m_total_texes += 1;
	}
	const int got = load_texture_int(mode, slot, flags, name);
	return ref == 0 ? slot : got;
}

void tman_class::bind_ref(int ref, int unit, int env)
{
	tman_lock hold(&lock);
	// 396 (charset 103) is bound though nothing loads it: past the table is the
	// placeholder. Ref 0 binds what slot 0 holds: nothing before it was used.
	if (ref < 0 || ref >= (int)ref_dat.size()) {
		TEX_bind_ref(ref == 0 ? 0 : tex_placeholder_ref, unit, env);
		return;
	}
	const ref_dat_struct& s = ref_dat[ref];
	int gl = s.gl_tex;
	if (ref != 0 && s.state != tex_load_now) {
		if (s.state == tex_load_async)
			gl = tex_placeholder_ref;
		else
			fatal("missing non-scenery texture - how?", "", fmt("ref=%6.0f", ref), s.name, __LINE__);
	}
	TEX_bind_ref(gl, unit, env);
}

void tman_class::empty_slot(int ref)
{
	ref_dat_struct& s = ref_dat[ref];
	if (s.gl_tex != 0 && s.gl_tex != tex_placeholder_ref) delete_gl_texture(s.gl_tex);
	if (s.state == tex_load_now && s.vram != 0) m_loaded_texes -= 1;
	if (s.format != 0) m_total_texes -= 1;
	erase_name(s.name, ref);
	s = ref_dat_struct();
}

void tman_class::unload_texture(int ref)
{
	tman_lock hold(&lock);
	const bool in_table = ref >= 0 && ref < (int)ref_dat.size();
	if (ref > tex_first_dynamic - 1)
		fatal("Error: dynamic textures should be released, not unloaded.", in_table ? ref_dat[ref].name : "",
		      fmt("%f", ref), "", __LINE__);
	if (in_table) empty_slot(ref);
}

void tman_class::release_texture(int ref)
{
	tman_lock hold(&lock);
	const std::string name = ref >= 0 && ref < (int)ref_dat.size() ? ref_dat[ref].name : "";
	if (ref < tex_first_dynamic)
		fatal("Trying to release a manual texture - use unload_texture.", fmt("%f", ref), name, "", __LINE__);
	if (ref >= (int)ref_dat.size()) return;
	ref_dat_struct& s = ref_dat[ref];
	if (s.refcount == -1) fatal("Ref count is negative - was never reffed.", fmt("%f", ref), name, "", __LINE__);
	s.refcount -= 1;
	if (s.refcount < 0) fatal("Ref count went negative", fmt("%f", ref), name, "", __LINE__);
}

void tman_class::purge_unused_texes()
{
	tman_lock hold(&lock);
	for (int i = tex_first_dynamic; i < (int)ref_dat.size(); ++i)
		if (ref_dat[i].refcount == 0) empty_slot(i);
}

int tman_class::total_texes()
{
	tman_lock hold(&lock);
	return m_total_texes;
}

int tman_class::loaded_texes()
{
	tman_lock hold(&lock);
	return m_loaded_texes;
}

long long tman_class::tot_vram()
{
	tman_lock hold(&lock);
	long long total = (long long)mnw.pix_dx * mnw.pix_dy * mnw.pix_depth / 8;
	for (const ref_dat_struct& s : ref_dat) total += s.vram;
	return total;
}

void tman_class::reset_bind()
{
	TEX_reset_bind();
}

void tman_class::set_blend_level(int unit, float level)
{
	TEX_set_blend_level(unit, level);
}

// ---- scaling

float tman_class::scale_rat()
{
	switch (mnw.tex_res_level) {
	case 0: return 1.0f / 32;
	case 1: return 1.0f / 16;
	case 2: return 1.0f / 8;
	case 3: return 1.0f / 4;
	case 4: return 1.0f / 2;
	}
	return 1.0f;
}

void check_dxy(int n, std::string name)
{
	if (n < 1 || n > 2048)
		fatal("Trying to create a texture either less than 1 or greater than 2048!", name, "value:", fmt("%1.0f", n),
		      __LINE__);
}

static int pow2_at_least(int n)
{
	int p = 1;
	while (p < n && p < (1 << 30)) p *= 2;
	return p;
}

float TEX_get_scale(std::string name, int, int flags, int dx, int dy, int* img_dx, int* img_dy, int* tex_dx,
                    int* tex_dy, int fixed)
{
	float scale = tman_class::scale_rat();
	if (flags & 0x40) scale = std::min(std::max(scale * 2, 0.0f), 1.0f);
	if (flags & 0x80) scale = std::min(std::max(scale / 2, 0.0f), 1.0f);
	if (flags & 0x100) scale = 1;
	if (fixed == 1) scale = 1;
	// No side below one pixel; sizes below 1 fail the check further down.
	if (dx > 0) scale = (float)std::max((double)scale, 1.0 / dx);
	if (dy > 0) scale = (float)std::max((double)scale, 1.0 / dy);
	if (glExt.max_tex_size > 0)
		while (scale * dx > glExt.max_tex_size || scale * dy > glExt.max_tex_size) scale *= 0.5f;
	*img_dx = (int)(scale * dx);
	*img_dy = (int)(scale * dy);
	if (flags & 0x2000) {
		*tex_dx = *img_dx;
		*tex_dy = *img_dy;
	} else {
		*tex_dx = pow2_at_least(*img_dx);
		*tex_dy = pow2_at_least(*img_dy);
	}
	for (int n : {dx, dy, *img_dx, *img_dy, *tex_dx, *tex_dy}) check_dxy(n, name);
	return scale;
}

// ---- the decode half

int load_texture_io(tex_load_vars* job)
{
	static const struct {
		int format, bytes;
	} colours[8] = {{0, 0},        {GL_RGB, 3},  {GL_RGBA, 4}, {GL_ALPHA, 1},
	                {GL_RGB, 3},   {GL_RGBA, 4}, {GL_DEPTH_COMPONENT, 1}, {GL_RGB, 3}};
	const int colour = job->flags & 7;
	if (colour == 0)
		fatal("BAD color enum for tman - see tman for valid colors!  We cannot pass 0.", "", "", "", __LINE__);
	job->format = colours[colour].format;
	job->bytes_per_pixel = (char)colours[colour].bytes;
	job->file_alpha = colour == 4 || colour == 5;
	job->mips = 0;

	int result = 0;
	if (job->name.empty()) {
		result = 0;
	} else if (is_scratch_name(job->name)) {
		check_dxy(scratch_dx, job->name);
		check_dxy(scratch_dy, job->name);
		TEX_get_scale(job->name, job->ref, job->flags, scratch_dx, scratch_dy, &job->img_dx, &job->img_dy,
		              &job->tex_dx, &job->tex_dy, 1);
		job->pixels = scratch_array;
		result = 1;
	} else if (load_any_into_scratch(job->name, job->ref, job->flags, job->format, job->mips, job->bytes_per_pixel,
	                                 job->file_alpha, &job->img_dx, &job->img_dy, &job->tex_dx, &job->tex_dy)) {
		job->pixels = scratch_array_temp;
		result = 2;
	}
	if (job->flags & 0x200) job->pixels = scratch_array;
	return result;
}

// The names a file is looked for under, in order.
static void candidate_names(const std::string& name, std::string out[4])
{
	const bool has_ext = name.size() > 4 && name[name.size() - 4] == '.';
	auto with = [&](const char* ext) { return has_ext ? name.substr(0, name.size() - 4) + ext : name; };
	out[0] = out[1] = cmdline.has_option("--no_dds") ? name : with(".dds");
	out[2] = with(".png");
	out[3] = with(".bmp");
}

// A DDS chain, its largest levels skipped while the scale asks for less, copied
// into the target and turned upright. False when what the upload reads would
// not fit the target.
static bool take_dds_chain(const unsigned char* data, TEX_image_desc desc, double inv, unsigned char* target,
                           size_t target_bytes, int& format, char& bytes_per_pixel, int tex_dx, int tex_dy)
{
	while (inv > 1 && (desc.width > 1 || desc.height > 1)) {
		const TEX_image_desc level = {desc.format, desc.width, desc.height, desc.pad, 0};
		data += TEX_bytes_needed_for_image(level);
		if (desc.width > 1) desc.width /= 2;
		if (desc.height > 1) desc.height /= 2;
		inv /= 2;
	}
	const long long bytes = TEX_bytes_needed_for_image(desc);
	const TEX_image_desc as_uploaded = {desc.format, tex_dx, tex_dy, 0, 1};
	if (bytes <= 0 || (unsigned long long)std::max(bytes, TEX_bytes_needed_for_image(as_uploaded)) > target_bytes)
		return false;
	memcpy(target, data, (size_t)bytes);
	if (TEX_flip_y(desc, target) && desc.format == GL_COMPRESSED_RGB_S3TC_DXT1_EXT) {
		format = GL_COMPRESSED_RGBA_S3TC_DXT1_EXT;
		bytes_per_pixel = 4;
	}
	return true;
}

bool load_any_into_scratch(std::string name, int ref, int flags, int& format, int& mips, char& bytes_per_pixel,
                           int file_alpha, int* img_dx, int* img_dy, int* tex_dx, int* tex_dy)
{
	if (bytes_per_pixel < 1 || bytes_per_pixel > 4)
		fatal("Trying to bind too low or high a number of bytes!", name, "value:", fmt("%1.0f", bytes_per_pixel),
		      __LINE__);
	const bool into_scratch = flags & 0x200;
	unsigned char* target = into_scratch ? scratch_array : scratch_array_temp;
	const size_t target_bytes = into_scratch ? scratch_array_bytes : scratch_array_temp_bytes;

	std::string tries[4];
	candidate_names(name, tries);
	xmap_class file("");
	std::string path;
	for (const std::string& t : tries)
		if (file.retry(t)) {
			path = t;
			break;
		}
	if (!file.base || file.end - file.base <= 7) return false;

	const unsigned long wanted = bytes_per_pixel == 1 ? GL_ALPHA : bytes_per_pixel == 4 ? GL_RGBA : GL_RGB;
	TEX_image_desc desc = {0, 0, 0, 0, 0};
	const unsigned char* dds_data = nullptr;
	unsigned char* out = target;
	bool is_dds = false;
	int ok = 0;
	// The decoders check the image against the target's size before writing.
	if (memcmp(file.base, "DDS ", 4) == 0) {
		is_dds = true;
		ok = TEX_load_dds(path, &file, dds_data, desc) && desc.mips;
	} else if (file.base[0] == 'B' && file.base[1] == 'M') {
		ok = TEX_load_bmp(path, &file, out, wanted, 0, 1, desc, target_bytes);
	} else if (png_sig_cmp((png_const_bytep)file.base, 0, 8) == 0) {
		ok = TEX_load_png(path, &file, out, wanted, 0, 1, file_alpha, desc, target_bytes);
	}
	if (!ok) return false;

	bytes_per_pixel = (char)bytes_for_format(desc.format);
	format = desc.format;
	mips = desc.mips;
	const float scale = TEX_get_scale(name, ref, flags, desc.width, desc.height, img_dx, img_dy, tex_dx, tex_dy, 2);
	const double inv = 1.0 / scale;

	if (is_dds)
		return take_dds_chain(dds_data, desc, inv, target, target_bytes, format, bytes_per_pixel, *tex_dx, *tex_dy);

	if (inv != 1) {
		const int n = (int)inv;
		TEX_downscale(desc, target, std::min(n, desc.width), std::min(n, desc.height));
	}
	// Decoded rows are padded to a power of two; the upload wants rows of the
	// texture's width, which a shrunk or non-power-of-two image no longer has.
	repack_rows(target, desc.width, desc.height, (size_t)desc.width * bytes_per_pixel + desc.pad, bytes_per_pixel,
	            *tex_dx, *tex_dy);
	return true;
}

// ---- the upload half

void tman_class::drop_upload(ref_dat_struct& s, int ref)
{
	if (s.gl_tex == ref && ref != tex_placeholder_ref && s.gl_tex != 0) delete_gl_texture(s.gl_tex);
	if (s.state == tex_load_now && s.vram != 0) m_loaded_texes -= 1;
	s.vram = 0;
}

void tman_class::show_placeholder(ref_dat_struct& s)
{
	// Nothing in this program loads 930: a missing placeholder leaves texture 0,
	// sizes 0. The slot stays taken, so its format stays set.
	const bool have = tex_placeholder_ref < (int)ref_dat.size() && ref_dat[tex_placeholder_ref].format != 0;
	const ref_dat_struct blank;
	const ref_dat_struct& p = have ? ref_dat[tex_placeholder_ref] : blank;
	s.gl_tex = p.gl_tex;
	s.img_dx = p.img_dx;
	s.img_dy = p.img_dy;
	s.tex_dx = p.tex_dx;
	s.tex_dy = p.tex_dy;
	if (have) s.format = p.format;
	s.vram = 0;
	s.state = tex_load_now;
}

int tman_class::load_texture_int(tex_fail_mode mode, int ref, int flags, const std::string& name)
{
	tman_lock hold(&lock);
	if (force_finish && !is_scratch_name(name)) force_finish->finish();
	if (flags < 0 || flags > 16383)
		fatal("Trying to bind an invalid filter type!", name, "value:", fmt("%1.0f", flags), __LINE__);
	glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxtexdim);

	tex_load_vars job = {};
	job.fail_mode = mode;
	job.ref = ref;
	job.flags = flags;
	job.name = name;
	const int decoded = load_texture_io(&job);
	return load_texture_ogl(&job, decoded);
}

int tman_class::load_texture_ogl(tex_load_vars* job, int decoded)
{
	tman_lock hold(&lock);
	const int ref = job->ref;
	if (ref < 0 || ref >= (int)ref_dat.size())
		fatal("(manual_ref>=ref_dat.size()!",
		      "maybe we tried to load some texture thatis not avail, and we have not loaded the t_blank_gray yet?", "",
		      "", __LINE__);
	ref_dat_struct& slot = ref_dat[ref];

	if (!decoded) {
		// A failed reload gives back the texture it replaces.
		drop_upload(slot, ref);
		show_placeholder(slot);
		slot.name = job->name;
		switch (job->fail_mode) {
		case tex_fail_silent: return 0;
		case tex_fail_scene:
			if (scene_load_fail == 0) scene_load_fail = 1;
			break;
		case tex_fail_plane:
			if (plane_load_fail == 0) plane_load_fail = 1;
			break;
		case tex_fail_instl:
			if (instl_load_fail == 0) instl_load_fail = 1;
			break;
		case tex_fail_fatal:
			fatal("Trying to load a texture that you do not have!", "This smacks of a mis-installed copy of Nimbara!",
			      "Please get a new download from www.example.com; the missing file is:", job->name,
			      __LINE__);
			return 0;
		}
		xer << "WARNING: we are missing the texture: " << job->name << ".\n";
		return 0;
	}

	const int flags = job->flags, format = job->format;
	const bool compressed = TEX_is_dxt(format);
	const bool bleed = job->bytes_per_pixel == 4 && decoded == 2 && !compressed && !job->mips;
	const bool nearest = nearest_ref(ref);

	int internal = format == GL_BGRA ? GL_RGBA : format == GL_BGR ? GL_RGB : format;
	if (flags & 0x800) {
		if (internal == GL_RGB) internal = GL_RGB16F_ARB;
		else if (internal == GL_RGBA) internal = GL_RGBA16F_ARB;
		else if (internal == GL_ALPHA) internal = GL_ALPHA16F_ARB;
	}
	if (internal == GL_DEPTH_COMPONENT) internal = GL_DEPTH_COMPONENT24;
	if (flags & 0x1000) {
		if (internal == GL_RGB) internal = GL_RGB8;
		else if (internal == GL_RGBA) internal = GL_RGBA8;
	}

	const bool hw_mips = (flags & 0x8) && glExt.automini_avail && !compressed && !(flags & 0x1000);
	const bool in_place = slot.state == tex_load_now && slot.format == format && slot.tex_dx == job->tex_dx &&
	                      slot.tex_dy == job->tex_dy && slot.gl_tex == ref && (!(flags & 0x8) || hw_mips);
	const bool sw_mips = (flags & 0x8) && !job->mips && !hw_mips;
	const double mip_share = (flags & 0x8) ? 1.33 : 1.0;

	if (slot.vram == 0) m_loaded_texes += 1;
	slot.name = job->name;
	slot.state = tex_load_now;
	slot.gl_tex = ref;
	slot.img_dx = (float)job->img_dx;
	slot.img_dy = (float)job->img_dy;
	slot.tex_dx = (float)job->tex_dx;
	slot.tex_dy = (float)job->tex_dy;
	slot.format = format;
	slot.flags = flags;
	slot.vram = (int32_t)((double)job->tex_dx * job->tex_dy * job->bytes_per_pixel * mip_share);

	if (ref == 0) fatal("Trying to bind a null ref!", "ref=     0, tex=     0", "", slot.name, __LINE__);
	if (bleed) alpha_bleed(job->pixels, job->tex_dx, job->tex_dy);

	if (!(flags & 0x2000))
		for (int side : {job->tex_dx, job->tex_dy}) {
			int i = side;
			float f = (float)side;
			while (i > 1) {
				i /= 2;
				f /= 2;
			}
			if (std::fabs(f - (float)i) > 0.0001f)
				fatal("load_tex: Trying to read a texture that is not a power of 2!", job->name, "", "", __LINE__);
		}
	check_dxy(job->tex_dx, job->name);
	check_dxy(job->tex_dy, job->name);

	const int units_before = num_units;
	num_units = 1;
	if (units_before == 0) glEnable(GL_TEXTURE_2D);
	TEX_bind_for_upload(ref);
	num_units = units_before;
	if (units_before == 0) glDisable(GL_TEXTURE_2D);

	// Rows are packed: RGB and alpha levels narrower than 4 pixels are not 4-byte multiples.
	GLint alignment = 4;
	glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
	glPixelStorei(GL_UNPACK_ALIGNMENT, 1);

	TEX_image_desc level_desc = {format, job->tex_dx, job->tex_dy, 0, 0};
	long long bytes = TEX_bytes_needed_for_image(level_desc);
	unsigned char* pixels = job->pixels;
	if (hw_mips) glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, 1);
	GLint compressed_bytes = 0;
	for (int level = 0;; ++level) {
		const int w = level_desc.width, h = level_desc.height;
		if (compressed)
			glExt.glCompressedTexImage2DARB(GL_TEXTURE_2D, level, internal, w, h, 0, (GLsizei)bytes, pixels);
		else if (in_place)
			glTexSubImage2D(GL_TEXTURE_2D, level, 0, 0, w, h, format, GL_UNSIGNED_BYTE, pixels);
		else
			glTexImage2D(GL_TEXTURE_2D, level, internal, w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
		GLint is_compressed = 0;
		if (compressed) glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED, &is_compressed);
		if (is_compressed) {
			GLint n = 0;
			glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_COMPRESSED_IMAGE_SIZE, &n);
			compressed_bytes += n;
		}
		if (w == 1 && h == 1) break;
		if (job->mips) {
			pixels += bytes;
			if (level_desc.width > 1) level_desc.width /= 2;
			if (level_desc.height > 1) level_desc.height /= 2;
		} else if (sw_mips) {
			TEX_downscale(level_desc, pixels, w >= 2 ? 2 : 1, h >= 2 ? 2 : 1);
		} else {
			break;
		}
		bytes = TEX_bytes_needed_for_image(level_desc);
	}
	glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
	// What OpenGL holds for every level it was given, not an estimate.
	if (compressed_bytes) slot.vram = compressed_bytes;

	const GLint clamp = glExt.tex_clamp_avail ? GL_CLAMP_TO_EDGE : GL_CLAMP;
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, (flags & 0x30) ? clamp : GL_REPEAT);
	glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, (flags & 0x10) ? clamp : GL_REPEAT);
	if (glExt.aniso_avail) glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, 1.0f);
	if (nearest) {
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
	} else {
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, (flags & 0x8) ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
	}
	if (format == GL_DEPTH_COMPONENT) {
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_R_TO_TEXTURE);
		glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC, GL_LEQUAL);
	}
	return ref;
}

void tman_class::force_load_tex(int ref)
{
	tman_lock hold(&lock);
	if (ref < 0 || ref >= (int)ref_dat.size() || ref_dat[ref].state == tex_load_now) return;
	const ref_dat_struct s = ref_dat[ref];
	load_texture_int((tex_fail_mode)s.fail_mode, ref, s.flags, s.name);
}

// ---- the asynchronous loader: slots in state 101 from async_cursor on

int tman_class::num_remaining_async_texes()
{
	tman_lock hold(&lock);
	int n = 0;
	for (int i = async_cursor; i < (int)ref_dat.size(); ++i)
		if (ref_dat[i].state == tex_load_async) ++n;
	return n;
}

void tman_class::load_all_scenery_texes()
{
	tman_lock hold(&lock);
	const int total = num_remaining_async_texes();
	int done = 0;
	for (int i = async_cursor; i < (int)ref_dat.size(); ++i) {
		if (ref_dat[i].state != tex_load_async) continue;
		const ref_dat_struct s = ref_dat[i];
		if (done % 40 == 0) {
			float fraction = (float)done / (float)total;
			UTL_critical_section_unlock(&lock);
			MACIBM_show_init("Loading scenery texture " + s.name.substr(s.name.find_last_of('/') + 1) + ".",
			                 &fraction);
			UTL_critical_section_lock(&lock);
		}
		load_texture_int((tex_fail_mode)s.fail_mode, i, s.flags, s.name);
		++done;
	}
	async_cursor = (int)ref_dat.size();
}

int tman_class::load_scenery_async_register(tman_force_finish_obj* f)
{
	for (int i = async_cursor; i < (int)ref_dat.size(); ++i)
		if (ref_dat[i].state == tex_load_async) {
			force_finish = f;
			async_vars = tex_load_vars();
			async_vars.fail_mode = ref_dat[i].fail_mode;
			async_vars.ref = i;
			async_vars.flags = ref_dat[i].flags;
			async_vars.name = ref_dat[i].name;
			async_vars_ptr = &async_vars;
			return 1;
		}
	async_cursor = (int)ref_dat.size();
	return 0;
}

int tman_class::load_scenery_async_work()
{
	async_result = load_texture_io(async_vars_ptr);
	return async_result;
}

int tman_class::load_scenery_async_finalize()
{
	if (!force_finish) return 0;
	const int got = load_texture_ogl(async_vars_ptr, async_result);
	force_finish = nullptr;
	async_vars_ptr = nullptr;
	return got;
}
