#pragma once
// A box blur that approximates a Gaussian: one box pass along the rows, then (through a
// transpose) along the columns. Works on raw interleaved pixels of 1 to 4 channels.
#include <cstdint>
#include <vector>

// Radius of the one box whose width best matches a Gaussian of this sigma.
int blur_box_radius(double sigma);

// Box blur of each row of `src` into `dst` (both width x height x channels): every output is
// the average of the pixels of [x - r, x + r] that lie inside the row, rounded half up.
// False (and nothing done) for a channel count other than 1 to 4.
bool horizontal_blur(const uint8_t* src, uint8_t* dst, int width, int height, int channels,
                     int radius);

// dst (height x width) = src (width x height) transposed, in blocks of 256 x 256.
bool flip_block(const uint8_t* src, uint8_t* dst, int width, int height, int channels);

// Blurs `pixels` (rows of width x channels bytes, no padding) in place.
bool blur_pixels(std::vector<uint8_t>& pixels, int width, int height, int channels, double sigma);
