#include "refhost/pictures/picture_formats.hpp"

#include <cctype>
#include <cstring>

#include "refhost/pictures/jpeg_codec.hpp"
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

const picture_format png_format{
    "PNG", ".png", nullptr, png_size_limitation,
    [](const picture& stamped, const byte_sink& sink, const encode_settings& settings) {
      write_png(stamped, sink, settings.spare_threads);
    }};
// TGA's rows go out as they are: no work worth sharing.
const picture_format tga_format{"TGA", ".tga", nullptr, tga_size_limitation,
                                [](const picture& stamped, const byte_sink& sink,
                                   const encode_settings&) { write_tga(stamped, sink); }};

const picture_format jpeg_format{
    "JPEG", ".jpg", ".jpeg", jpeg_size_limitation,
    [](const picture& stamped, const byte_sink& sink, const encode_settings& settings) {
      write_jpeg(stamped, sink, settings.jpeg_quality);
    }};

const picture_format* const picture_formats[3] = {&png_format, &tga_format, &jpeg_format};

const picture_format* format_for_file_name(const std::string& file_name) {
  const std::size_t dot = file_name.rfind('.');
  if (dot == std::string::npos)
    return nullptr;
  std::string extension = file_name.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const picture_format* format : picture_formats) {
    if (extension == format->extension ||
        (format->other_extension != nullptr && extension == format->other_extension))
      return format;
  }
  return nullptr;
}
