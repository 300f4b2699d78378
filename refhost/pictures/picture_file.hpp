#pragma once
// Picture files as the host reads them: PNG when the file carries the PNG
// signature, TGA otherwise, whatever its name says; never more than the
// largest picture file the host takes.

#include <cstddef>
#include <string>
#include <vector>

#include "refhost/files/file_io.hpp"
#include "refhost/pictures/image_handle.hpp"

// The largest picture file the host reads: the largest picture it holds
// (memory_image::max_pixels), four bytes a pixel stored without any
// compression, and 16 MiB more for headers, metadata and framing. Reading
// stops past it, so that a device such as /dev/zero cannot fill memory.
inline constexpr std::size_t max_picture_file_bytes =
    std::size_t{4} * memory_image::max_pixels + (std::size_t{16} << 20);

// A picture file, opened and its beginning read: enough to know how to
// read the rest. Most of a TGA's pixels go from the file straight into the
// picture; other files are read whole (up to max_picture_file_bytes) and
// decoded from memory.
class picture_file {
 public:
  // Throws file_error when the file cannot be opened or read, or is too
  // large.
  explicit picture_file(const std::string& path);

  // Reads the rest and decodes. Throws file_error, and image_format_error
  // naming the path when the picture cannot be decoded. Once only.
  host_image_ptr decode();

 private:
  input_file file_;
  std::vector<unsigned char> bytes_;  // the beginning, or the whole file
  bool whole_ = false;                // bytes_ hold the whole file
};

// Reads and decodes a picture file (picture_file, in one step).
host_image_ptr decode_image_file(const std::string& path);

// Decodes a whole picture file held in memory; messages name `path`.
host_image_ptr decode_picture_file_bytes(const std::vector<unsigned char>& bytes,
                                         const std::string& path);
