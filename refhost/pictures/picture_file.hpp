#pragma once
// Picture files as the host reads them: PNG or JPEG when the file carries
// their signature, TGA otherwise, whatever its name says; never more than
// the largest picture file the host takes.

#include <cstddef>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/image_handle.hpp"
#include "refhost/pictures/picture.hpp"

// The largest picture file the host reads: the largest picture it holds
// (memory_image::max_pixels), eight bytes a pixel (16-bit RGBA) stored
// without any compression, and 16 MiB more for headers, metadata and
// framing. Reading
// stops past it, so that a device such as /dev/zero cannot fill memory.
inline constexpr std::size_t max_picture_file_bytes =
    std::size_t{8} * memory_image::max_pixels + (std::size_t{16} << 20);

// A picture file, opened and its beginning read: enough to know how to
// read the rest. The rest is read in pieces as the decoder asks for it, so
// that no copy of the file is held beside the picture, and never past
// max_picture_file_bytes.
class picture_file {
 public:
  // Throws file_error when the file cannot be opened or read, or is too
  // large.
  explicit picture_file(const std::string& path);

  // Reads the rest and decodes. Throws file_error, and image_format_error
  // naming the path when the picture cannot be decoded. Once only.
  picture decode();

 private:
  input_file file_;
  std::vector<unsigned char> beginning_;
};

// Reads and decodes a picture file (picture_file, in one step).
picture read_picture_file(const std::string& path);
// Only its view.
host_image_ptr decode_image_file(const std::string& path);
