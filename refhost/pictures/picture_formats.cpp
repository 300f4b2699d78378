#include "refhost/pictures/picture_formats.hpp"

#include <cctype>

#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

const picture_format png_format{"PNG", ".png", png_size_limitation, write_png};
const picture_format tga_format{"TGA", ".tga", tga_size_limitation, write_tga};

const picture_format* format_for_file_name(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos)
    return nullptr;
  std::string extension = file_name.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const picture_format* format : {&png_format, &tga_format}) {
    if (extension == format->extension)
      return format;
  }
  return nullptr;
}
