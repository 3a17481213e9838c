// The texture manager: every texture has an integer ref naming a slot of one
// table; callers load images into refs, bind refs and unload or release them,
// and never hold OpenGL texture names. A loaded slot's OpenGL name is its ref.
#ifndef TMAN_H
#define TMAN_H

#include <pthread.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "GenC/hl_globals.h"

enum tex_fail_mode {
	tex_fail_silent = 0,  // returns 0, nothing else
	tex_fail_scene = 1,   // sets scene_load_fail
	tex_fail_plane = 2,   // sets plane_load_fail
	tex_fail_instl = 3,   // sets instl_load_fail
	tex_fail_fatal = 4    // a missing image ends the program
};
enum tex_load_time { tex_load_now = 100, tex_load_async = 101, tex_unloaded = 102 };

// Refs the manager treats specially.
const int tex_first_dynamic = 1135;  // dynamic refs from here up; manual refs below
const int tex_interface_ref = 392, tex_installer_ref = 393, tex_ins_back_ref = 394;
const int tex_placeholder_ref = 930;

struct ref_dat_struct {
	std::string name = "un-inited";  // file path, or "scratch_array..." for images in memory
	int32_t gl_tex = 0;              // what binding the ref binds
	float   img_dx = 0, img_dy = 0;  // the used part of the texture
	float   tex_dx = 0, tex_dy = 0;  // the texture's allocated size
	int32_t vram = 0;                // estimated bytes of the upload
	int32_t format = 0;              // 0: free slot
	int32_t state = tex_unloaded;
	int32_t flags = 0;
	int32_t fail_mode = tex_fail_fatal;
	int32_t refcount = -1;           // -1 manual; else the users of a dynamic ref
};

// The job of one load: filled by the decode half, read by the upload half.
struct tex_load_vars {
	int32_t       fail_mode;
	int32_t       ref;
	int32_t       flags;
	int32_t       format;  // starts as the requested format
	int32_t       mips;    // the image carries its own mipmap chain
	char          bytes_per_pixel;
	int32_t       file_alpha;
	int32_t       img_dx, img_dy, tex_dx, tex_dy;
	std::string   name;
	unsigned char* pixels;
};

// Finishes the pending asynchronous job before a synchronous load reuses the buffers.
class tman_force_finish_obj {
public:
	virtual void finish() = 0;
	virtual ~tman_force_finish_obj() {}
};

class tman_class {
public:
	tman_class();
	~tman_class();
	tman_class(const tman_class&) = delete;
	tman_class& operator=(const tman_class&) = delete;

	// Makes ref (or, with ref 0, a dynamic ref shared by name) hold the image
	// `name`; the ref, or 0 (a failed dynamic load still returns its ref).
	int  load_texture(tex_fail_mode mode, int ref, int flags, tex_load_time when, const std::string& name);
	void bind_ref(int ref, int unit, int env);
	void unload_texture(int ref);   // manual refs only
	void release_texture(int ref);  // dynamic refs only; purge_unused_texes empties
	void purge_unused_texes();

	int total_texes();
	int loaded_texes();
	// Bytes: the frame buffer's share plus every slot's upload. 64-bit: the sum
	// of a few hundred large textures passes 2 GiB.
	long long tot_vram();

	bool has_scene_load_fail() { return scene_load_fail == 1; }
	bool has_plane_load_fail() { return plane_load_fail == 1; }
	bool has_instl_load_fail() { return instl_load_fail == 1; }
	void reset_scene_load_fail() { scene_load_fail = 0; }
	void reset_plane_load_fail() { plane_load_fail = 0; }
	void reset_instl_load_fail() { instl_load_fail = 0; }
	void mute_scene_load_fail() { scene_load_fail = 2; }
	void mute_plane_load_fail() { plane_load_fail = 2; }
	void mute_instl_load_fail() { instl_load_fail = 2; }

	static void reset_bind();
	static void set_blend_level(int unit, float level);

	static float scale_rat();  // the scale of the texture resolution level alone
	void force_load_tex(int ref);
	void load_all_scenery_texes();
	int  num_remaining_async_texes();
	int  load_scenery_async_register(tman_force_finish_obj* f);
	int  load_scenery_async_work();
	int  load_scenery_async_finalize();

	int  load_texture_int(tex_fail_mode mode, int ref, int flags, const std::string& name);
	int  load_texture_ogl(tex_load_vars* job, int decoded);

	int32_t                     async_cursor;
	int32_t                     m_loaded_texes;  // slots holding an upload (loaded_texes())
	int32_t                     m_total_texes;   // slots in use (total_texes())
	std::vector<ref_dat_struct> ref_dat;
	int32_t                     scene_load_fail, plane_load_fail, instl_load_fail;
	tex_load_vars*              async_vars_ptr;
	int32_t                     async_result;
	tman_force_finish_obj*      force_finish;
	pthread_mutex_t             lock;

private:
	void empty_slot(int ref);
	void drop_upload(ref_dat_struct& slot, int ref);
	void show_placeholder(ref_dat_struct& slot);
};

extern tman_class tman;

// Texture name -> ref, for every name load_texture put into a slot.
extern std::unordered_map<std::string, int> tex_hash;

// The decode half: 0 nothing found, 1 taken from scratch_array, 2 decoded from a file.
int  load_texture_io(tex_load_vars* job);
bool load_any_into_scratch(std::string name, int ref, int flags, int& format, int& mips, char& bytes_per_pixel,
                           int file_alpha, int* img_dx, int* img_dy, int* tex_dx, int* tex_dy);
float TEX_get_scale(std::string name, int ref, int flags, int dx, int dy, int* img_dx, int* img_dy, int* tex_dx,
                    int* tex_dy, int fixed);
void  check_dxy(int n, std::string name);

// The second decode buffer (16 MiB + 16 bytes), the default target of file
// decoding, and the size of an image a caller placed in scratch_array.
const int scratch_array_temp_bytes = scratch_array_bytes + 16;
extern unsigned char scratch_array_temp[];
extern int scratch_dx, scratch_dy;
extern int maxtexdim;                // GL_MAX_TEXTURE_SIZE at the last load
extern tex_load_vars async_vars;     // the asynchronous loader's job

#endif
