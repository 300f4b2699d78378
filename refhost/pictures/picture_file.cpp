#include "refhost/pictures/picture_file.hpp"

#include <new>
#include <stdexcept>

#include "refhost/pictures/png_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

// A TGA's header and image ID; enough to tell a PNG too.
constexpr std::size_t beginning_bytes = 18 + 255;

// Decoding errors name the file; memory that runs out says so.
template <class Decode>
host_image_ptr naming_path(const std::string& path, Decode decode) {
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
  // Streams and devices have no size to check first: read whole, bounded.
  if (size < 0) {
    bytes_ = file_.read_rest(max_picture_file_bytes);
    whole_ = true;
    return;
  }
  if (static_cast<unsigned long long>(size) > max_picture_file_bytes)
    throw_too_large(path, max_picture_file_bytes);
  bytes_.resize(static_cast<std::size_t>(size) < beginning_bytes ? static_cast<std::size_t>(size)
                                                                 : beginning_bytes);
  bytes_.resize(file_.read(bytes_.data(), bytes_.size()));
}

host_image_ptr picture_file::decode() {
  const std::string& path = file_.path();
  if (!whole_ && !has_png_signature(bytes_.data(), bytes_.size())) {
    // A TGA whose rows are rows of Bgra8 is read into the picture row by
    // row, without a copy of the file in between.
    const auto rows_read_directly = [&]() -> host_image_ptr {
      const tga_layout layout = read_tga_layout(bytes_.data(), bytes_.size());
      if (!layout.rows_are_bgra8())
        return nullptr;
      const long long size = file_.regular_size();
      check_tga_pixels_present(layout, static_cast<std::size_t>(size) - layout.pixel_offset);
      host_image_ptr image = make_host_image(layout.width, layout.height);
      const std::size_t row_bytes = std::size_t{4} * static_cast<std::size_t>(layout.width);
      file_.rewind();
      file_.read(bytes_.data(), layout.pixel_offset);
      for (std::int32_t row = 0; row < layout.height; ++row) {
        Bgra8* target = &image->at(0, layout.top_to_bottom ? row : layout.height - 1 - row);
        if (file_.read(target, row_bytes) != row_bytes)
          throw image_format_error("TGA: the file was cut short while it was read");
      }
      return image;
    };
    host_image_ptr image = naming_path(path, rows_read_directly);
    if (image)
      return image;
  }
  if (!whole_) {
    file_.rewind();
    bytes_ = file_.read_rest(max_picture_file_bytes);
    whole_ = true;
  }
  return decode_picture_file_bytes(bytes_, path);
}

host_image_ptr decode_image_file(const std::string& path) {
  return picture_file(path).decode();
}

host_image_ptr decode_picture_file_bytes(const std::vector<unsigned char>& bytes,
                                         const std::string& path) {
  return naming_path(path, [&] {
    if (has_png_signature(bytes.data(), bytes.size()))
      return decode_png(bytes.data(), bytes.size());
    return decode_tga(bytes.data(), bytes.size());
  });
}
