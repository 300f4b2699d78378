#include "refhost/pictures/png/png_colour_profile.hpp"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

std::vector<unsigned char> iccp_chunk_data(const std::vector<unsigned char>& profile) {
  static const char name[] = "ICC profile";  // with its NUL
  uLongf size = compressBound(static_cast<uLong>(profile.size()));
  std::vector<unsigned char> data(sizeof name + 1 + size);
  std::memcpy(data.data(), name, sizeof name);
  data[sizeof name] = 0;  // compression method: zlib
  if (compress2(data.data() + sizeof name + 1, &size, profile.data(),
                static_cast<uLong>(profile.size()), Z_BEST_COMPRESSION) != Z_OK)
    throw std::bad_alloc();
  data.resize(sizeof name + 1 + size);
  return data;
}

std::vector<unsigned char> icc_profile_of_iccp(const std::vector<unsigned char>& chunk_data,
                                               std::size_t max_bytes) {
  // A name of 1 to 79 bytes, its NUL, the method byte.
  const auto end_of_name = std::find(chunk_data.begin(), chunk_data.end(), 0);
  const std::size_t name_length = static_cast<std::size_t>(end_of_name - chunk_data.begin());
  if (name_length == 0 || name_length > 79 || name_length + 2 > chunk_data.size() ||
      chunk_data[name_length + 1] != 0)
    return {};
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK)
    throw std::bad_alloc();
  std::vector<unsigned char> profile;
  stream.next_in = const_cast<unsigned char*>(chunk_data.data() + name_length + 2);
  stream.avail_in = static_cast<uInt>(chunk_data.size() - name_length - 2);
  int result = Z_OK;
  while (result == Z_OK) {
    if (profile.size() >= max_bytes)
      break;
    const std::size_t had = profile.size();
    profile.resize(std::min(max_bytes, had + (std::size_t{64} << 10)));
    stream.next_out = profile.data() + had;
    stream.avail_out = static_cast<uInt>(profile.size() - had);
    result = inflate(&stream, Z_NO_FLUSH);
    profile.resize(profile.size() - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0)
      break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END)
    return {};
  return profile;
}
