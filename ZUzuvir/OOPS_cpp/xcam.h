// The camera: the projection and modelview matrices loaded into OpenGL, and
// what later drawing needs to know of the view volume.
#ifndef XCAM_H
#define XCAM_H

// Plain data: copied byte for byte, no virtual functions.
class xcam_class {
public:
	xcam_class();
	xcam_class(const xcam_class& other);
	explicit xcam_class(const xcam_class* other);  // a null pointer copies nothing
	xcam_class& operator=(const xcam_class& other);

	void SetupOrtho(double l, double r, double b, double t, double n, double f);
	void SetupFrustum(double l, double r, double b, double t, double n, double f);
	void SetupPerspective(double fovy, double aspect, double n, double f);
	void SetFakeFarClippingPlane(double d);
	void ResetFakeFarClippingPlane();

	void Identity();
	void Translate(double x, double y, double z);
	void Rotate(double angle, double x, double y, double z);
	void LookAtPtFromPt(double ex, double ey, double ez, double cx, double cy, double cz, double ux, double uy,
	                    double uz);
	void LookAtPtFromDir(double x, double y, double z, double azimuth, double elevation, double d);

	// 0 for an orthographic camera (outputs untouched), else 1.
	int  GetFOVHalfCosines(float* h, float* v);
	void CalcDirection(double* out);
	void CalcUp(double* out);
	void CalcRight(double* out);
	void CalcBillboardGround(float* right, float* up);
	void CalcBillboardCamera(float* right, float* up);
	// A world point to interface units, through the matrices and GL's viewport.
	void mtr_to_pix(double* world, double* out);
	// Fits this camera as an orthographic light camera around other's view volume.
	void LookAtCamera(xcam_class* other, double* dir, double dist, double& near_out, double& far_out);
	// The world box of the view volume (up to dist) between two heights; false
	// when no part of it lies in the band.
	bool GetFrustumBounds(double dist, double y_lo, double y_hi, double* min, double* max);

	int           ortho = 0;  // 1 orthographic, 0 perspective
	double        near_neg = 0, far_neg = 0, fake_far_neg = 0;
	double        planes[4][3] = {};  // top, left, right, bottom: unit normals into the volume
	double        bound_t = 0, bound_l = 0, bound_r = 0, bound_b = 0;
	unsigned char changed = 0;
	unsigned char readback = 0;  // fetch the modelview from GL before the next direction query
	double        proj[16];
	double        mv[16];
};

extern xcam_class xcam;

#endif
