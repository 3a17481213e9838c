// The small 3-D helpers of the drawing layer and its GL presets.
#include <GL/gl.h>

#include <cmath>

#include "GenC/hl_globals.h"
#include "OOPS_cpp/oglp.h"

void OGL_poly_offset(int n)
{
	if (n) {
		glEnable(GL_POLYGON_OFFSET_FILL);
		glPolygonOffset((float)n * -10.0f, -1.0f);
	} else {
		glDisable(GL_POLYGON_OFFSET_FILL);
	}
}

void OGL_setspec(float level)
{
	const float v[4] = {level, level, level, 1.0f};
	glLightfv(GL_LIGHT0, GL_SPECULAR, v);
	glMaterialfv(GL_FRONT, GL_SPECULAR, v);
	glMateriali(GL_FRONT, GL_SHININESS, 128);
}

void OGL_spectrum_rgb(float t)
{
	// Black, red, orange, yellow, green, blue, purple.
	static const float knot[7][3] = {{0, 0, 0}, {1, 0, 0}, {1, 0.32f, 0.08f}, {1, 1, 0},
	                                 {0, 1, 0}, {0, 0, 1}, {0.8f, 0, 0.8f}};
	int   k = 0;
	float f = 0;
	if (t >= 0) {
		if (t > 1) t = 1;
		// A boundary belongs to the upper segment, except t = 1: the end of the
		// last segment, not a seventh one past the table.
		while (k < 5 && t >= (float)(k + 1) / 6) ++k;
		f = 6 * (t - (float)k / 6);
	}
	float c[3];
	for (int i = 0; i < 3; ++i) c[i] = (1 - f) * knot[k][i] + f * knot[k + 1][i];
	if (ren.green_mode) {
		const float s = c[0] + c[1] + c[2];
		c[0] = 0;
		c[1] = s < 0.01f ? 0.01f : s > 1.0f ? 1.0f : s;
		c[2] = 0;
	}
	glColor4f(c[0], c[1], c[2], ren.global_alpha);
}

void OGL_3dline(float x1, float y1, float z1, float x2, float y2, float z2)
{
	glVertex3f(x1, y1, z1);
	glVertex3f(x2, y2, z2);
}

static void quad_normal(const float* p0, const float* p1, const float* p2)
{
	const float a[3] = {p2[0] - p1[0], p2[1] - p1[1], p2[2] - p1[2]};
	const float b[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
	float n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
	const float len = sqrtf(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
	if (len == 0) {
		n[0] = 0, n[1] = 1, n[2] = 0;
	} else {
		for (float& v : n) v /= len;
	}
	glNormal3fv(n);
}

void OGL_3dquad(float* p0, float* p1, float* p2, float* p3)
{
	quad_normal(p0, p1, p2);
	glTexCoord2fv(st11);
	glVertex3fv(p0);
	glTexCoord2fv(st10);
	glVertex3fv(p1);
	glTexCoord2fv(st00);
	glVertex3fv(p2);
	glTexCoord2fv(st01);
	glVertex3fv(p3);
}

void OGL_3dquad_st(float* p0, float* p1, float* p2, float* p3, float s1, float t1, float s2, float t2)
{
	quad_normal(p0, p1, p2);
	glTexCoord2f(s1, t1);
	glVertex3fv(p0);
	glTexCoord2f(s1, t2);
	glVertex3fv(p1);
	glTexCoord2f(s2, t2);
	glVertex3fv(p2);
	glTexCoord2f(s2, t1);
	glVertex3fv(p3);
}

void OGL_cube(float x, float y, float z, float w, float h, float d, float s1, float s2, float t1, float t2, float angle)
{
	glPushMatrix();
	glTranslatef(x, y, z);
	glRotatef(-angle, 0, 0, 1);
	const float hw = w / 2, hd = d / 2;
	const float cx[5] = {-hw, hw, hw, -hw, -hw}, cz[5] = {-hd, -hd, hd, hd, -hd};
	const float side_s[5] = {s1, s2, s1, s2, s1};
	static const float normals[4][3] = {{0, 0, -1}, {1, 0, 0}, {0, 0, 1}, {-1, 0, 0}};
	glBegin(GL_QUAD_STRIP);
	for (int i = 0; i < 5; ++i) {
		// A strip's face takes the normal given before its closing pair.
		glNormal3fv(normals[i > 0 ? i - 1 : 0]);
		glTexCoord2f(side_s[i], t1);
		glVertex3f(cx[i], 0, cz[i]);
		glTexCoord2f(side_s[i], t2);
		glVertex3f(cx[i], h, cz[i]);
	}
	glEnd();
	glBegin(GL_QUADS);
	glNormal3f(0, 1, 0);
	for (int i = 0; i < 4; ++i) {
		glTexCoord2f(side_s[i], t2);
		glVertex3f(cx[i], h, cz[i]);
	}
	glNormal3f(0, -1, 0);
	for (int i = 3; i >= 0; --i) {
		glTexCoord2f(side_s[i], t1);
		glVertex3f(cx[i], 0, cz[i]);
	}
	glEnd();
	glPopMatrix();
}

void OGL_disc(float x, float y, float z, float r)
{
	glPushMatrix();
	glTranslatef(x, y, z);
	const float q = 0.38f * r;
	glBegin(GL_TRIANGLE_FAN);
	glNormal3f(-1, 0, 0);
	glVertex3f(-r, 0, 0);
	for (int a = 360; a >= 0; a -= 30) glVertex3f(-r, q * lookup_cos[a], -q * lookup_sin[a]);
	glEnd();
	glBegin(GL_TRIANGLE_FAN);
	glNormal3f(1, 0, 0);
	glVertex3f(r, 0, 0);
	for (int a = 0; a <= 360; a += 30) glVertex3f(r, q * lookup_cos[a], -q * lookup_sin[a]);
	glEnd();
	const float bands[3][4] = {{-r, q, -q, r}, {-q, r, q, r}, {q, r, r, q}};
	for (const float* b : bands) {
		glBegin(GL_QUAD_STRIP);
		for (int a = 360; a >= 0; a -= 30) {
			glVertex3f(b[0], b[1] * lookup_cos[a], -b[1] * lookup_sin[a]);
			glVertex3f(b[2], b[3] * lookup_cos[a], -b[3] * lookup_sin[a]);
		}
		glEnd();
	}
	glPopMatrix();
}

void OGL_printer() {}
