#include "refhost/picture_formats.hpp"

#include "refhost/png_codec.hpp"
#include "refhost/tga_codec.hpp"

const picture_format png_format{"PNG", ".png", png_size_limitation, encode_png};
const picture_format tga_format{"TGA", ".tga", tga_size_limitation, encode_tga};
