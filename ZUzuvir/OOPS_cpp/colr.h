// The colour palette: every drawing names its colour by an index into it. Also
// the gamma settings of the image loaders and a 1000-step spectrum.
#ifndef COLR_H
#define COLR_H

const int colr_palette_size = 105;
const int colr_spectrum_size = 1000;

class colr_class {
public:
	colr_class();

	// Sets one palette entry; an index outside 0..104 is ignored.
	void assign(int index, float r, float g, float b);
	// Raises each tint component to at least 0.75.
	void set_lites_for_interface();
	// Mode 0 rainbow, 1 red ramp, 2 green ramp, 3 blue ramp; others change nothing.
	void spectrum_init(int mode);
	// Draws the spectrum as a vertical scale of 1000 pixels from (x, y) upwards,
	// low at the bottom, labelled with both ends; only the labels when high equals low.
	void spectrum_plotscale(float x, float y, float low, float high, int decimals);

	double        file_gamma;    // an image with no gamma of its own has 1 / file_gamma
	double        screen_gamma;  // the display gamma handed to the PNG reader
	int           gamma_on;      // BMP and S3TC bytes go through gamma_table when set
	unsigned char gamma_table[256];
	float         palette[colr_palette_size][3];
	float         tint[3];       // multiplies the entries below 46 when drawing
	float         spec_lo, spec_hi, spec_dif;  // the last plot scale's range
	float         spectrum[colr_spectrum_size][3];
};

extern colr_class colr;

#endif
