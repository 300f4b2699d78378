#include "refhost/pictures/picture_formats.hpp"

#include <cctype>
#include <cstring>

#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

byte_source memory_source(const unsigned char* data, std::size_t size) {
  return [data, size, at = std::size_t{0}](unsigned char* target, std::size_t wanted) mutable {
    const std::size_t count = wanted < size - at ? wanted : size - at;
    if (count != 0)
      std::memcpy(target, data + at, count);
    at += count;
    return count;
  };
}

const picture_format png_format{"PNG", ".png", png_size_limitation,
                                [](const memory_image& image, const byte_sink& sink,
                                   int spare_threads) { write_png(image, sink, spare_threads); }};
// TGA's rows go out as they are: no work worth sharing.
const picture_format tga_format{
    "TGA", ".tga", tga_size_limitation,
    [](const memory_image& image, const byte_sink& sink, int) { write_tga(image, sink); }};

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
