#include "refhost/pictures/picture_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

// A TGA's header and image ID; enough to tell a PNG too.
constexpr std::size_t beginning_bytes = 18 + 255;

// Decoding errors name the file; memory that runs out says so.
template <class Decode>
picture naming_path(const std::string& path, Decode decode) {
  try {
    return decode();
  } catch (const image_format_error& error) {
    throw image_format_error(path + ": " + error.what());
  } catch (const std::bad_alloc&) {
    throw image_format_error(path + ": not enough memory to hold the picture");
  } catch (const std::length_error& error) {
    throw image_format_error(path + ": " + error.what());
  }
}

}  // namespace

picture_file::picture_file(const std::string& path) : file_(path) {
  const long long size = file_.regular_size();
  if (size >= 0 && static_cast<unsigned long long>(size) > max_picture_file_bytes)
    throw_too_large(path, max_picture_file_bytes);
  beginning_.resize(beginning_bytes);
  beginning_.resize(file_.read(beginning_.data(), beginning_.size()));
}

picture picture_file::decode() {
  const std::string& path = file_.path();
  std::size_t taken = 0;  // of the beginning
  std::size_t read = beginning_.size();
  const byte_source rest = [&](unsigned char* target, std::size_t size) {
    if (taken < beginning_.size()) {
      const std::size_t count = std::min(size, beginning_.size() - taken);
      std::memcpy(target, beginning_.data() + taken, count);
      taken += count;
      return count;
    }
    const std::size_t count = file_.read(target, size);
    read += count;
    if (read > max_picture_file_bytes)
      throw_too_large(path, max_picture_file_bytes);
    return count;
  };
  return naming_path(path, [&] {
    if (has_png_signature(beginning_.data(), beginning_.size()))
      return read_png(rest);
    if (has_jpeg_signature(beginning_.data(), beginning_.size()))
      return read_jpeg(rest);
    if (!looks_like_tga(beginning_.data(), beginning_.size()))
      throw image_format_error("not a PNG, TGA or JPEG picture");
    const tga_layout layout = read_tga_layout(beginning_.data(), beginning_.size());
    taken = layout.map_offset;
    return read_tga(layout, rest);
  });
}

picture read_picture_file(const std::string& path) {
  return picture_file(path).decode();
}

host_image_ptr decode_image_file(const std::string& path) {
  return read_picture_file(path).view;
}
