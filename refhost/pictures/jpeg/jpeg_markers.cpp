#include "refhost/pictures/jpeg/jpeg_markers.hpp"

#include <cstring>
#include <map>

#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr unsigned soi = 0xD8;
constexpr unsigned eoi = 0xD9;
constexpr unsigned sos = 0xDA;
constexpr unsigned app2 = 0xE2;
constexpr char icc_tag[] = "ICC_PROFILE";  // with its NUL: 12 bytes

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("JPEG: " + reason);
}

bool is_frame_header(unsigned marker) {
  // SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool stands_alone(unsigned marker) {
  return (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == soi || marker == eoi;
}

std::string frame_kind_refused(unsigned marker) {
  if (marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF)
    return "lossless JPEG is not supported";
  if (marker >= 0xC9)
    return "arithmetic-coded JPEG is not supported";
  if (marker >= 0xC5)
    return "hierarchical JPEG is not supported";
  return {};
}

// Walks the markers; `until_frame` stops at the first frame header.
class marker_walk {
 public:
  marker_walk(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  jpeg_structure run(bool until_frame) {
    if (size_ < 2 || data_[0] != 0xFF || data_[1] != soi)
      reject("no start-of-image marker");
    at_ = 2;
    bool frame_seen = false;
    std::map<unsigned, std::vector<unsigned char>> icc_chunks;
    unsigned icc_count = 0;
    while (true) {
      unsigned marker = 0;
      if (!next_marker(&marker))
        break;  // cut short
      if (marker == eoi) {
        found_.complete = frame_seen;
        break;
      }
      if (stands_alone(marker))
        continue;
      if (size_ - at_ < 2)
        break;
      const std::size_t length = std::size_t{data_[at_]} << 8 | data_[at_ + 1];
      if (length < 2)
        reject("a segment of marker 0x" + hex(marker) + " claims " + std::to_string(length) +
               " bytes");
      if (size_ - at_ < length) {
        if (until_frame)
          break;
        reject("a segment of marker 0x" + hex(marker) + " runs past the end of the file");
      }
      const unsigned char* body = data_ + at_ + 2;
      const std::size_t body_size = length - 2;
      at_ += length;
      if (is_frame_header(marker)) {
        if (frame_seen)
          reject("more than one frame header");
        frame_seen = true;
        read_frame(marker, body, body_size);
        if (until_frame)
          return found_;
      } else if (marker == app2 && body_size >= sizeof icc_tag + 2 &&
                 std::memcmp(body, icc_tag, sizeof icc_tag) == 0) {
        const unsigned sequence = body[sizeof icc_tag];
        const unsigned count = body[sizeof icc_tag + 1];
        const bool fits =
            sequence >= 1 && sequence <= count && (icc_count == 0 || icc_count == count);
        found_.icc_damaged = found_.icc_damaged || !fits || icc_chunks.count(sequence) != 0;
        icc_count = count;
        if (fits)
          icc_chunks[sequence].assign(body + sizeof icc_tag + 2, body + body_size);
      } else if (marker == 0xC4) {
        check_huffman_tables(body, body_size);
      } else if (marker == sos) {
        if (!frame_seen)
          reject("a scan before the frame header");
        check_scan_tables(body, body_size);
        skip_entropy_coded_data();
      }
    }
    if (icc_count != 0) {
      found_.icc_damaged = found_.icc_damaged || icc_chunks.size() != icc_count;
      if (!found_.icc_damaged) {
        for (const auto& chunk : icc_chunks)
          found_.icc_profile.insert(found_.icc_profile.end(), chunk.second.begin(),
                                    chunk.second.end());
      }
    }
    return found_;
  }

 private:
  static std::string hex(unsigned value) {
    const char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4 & 15], digits[value & 15]};
  }

  // The next marker's code, past any fill bytes; false at the end. Bytes
  // that are no marker (among them FF 00, a stuffed zero) pass only before
  // the end-of-image marker: padding, which libjpeg passes too.
  bool next_marker(unsigned* marker) {
    const std::size_t start = at_;
    bool extraneous = false;
    for (;;) {
      while (at_ < size_ && data_[at_] != 0xFF) ++at_;
      while (at_ < size_ && data_[at_] == 0xFF) ++at_;
      if (at_ >= size_)
        return false;
      *marker = data_[at_++];
      extraneous = extraneous || (at_ - 2 > start && data_[start] != 0xFF);
      if (*marker != 0)
        break;
      extraneous = true;
    }
    if (extraneous && *marker != eoi)
      reject("no marker at byte " + std::to_string(start));
    return true;
  }

  // Which Huffman tables a scan takes must have been defined before it;
  // stb's reader would take whatever its memory held.
  void check_scan_tables(const unsigned char* body, std::size_t size) {
    if (size < 1 || size < 1 + 2 * std::size_t{body[0]} + 3) {
      found_.damaged_table = "a scan header of " + std::to_string(size) + " bytes";
      return;
    }
    const unsigned components = body[0];
    const unsigned spectrum_start = body[1 + 2 * components];
    const unsigned approximation_high = body[3 + 2 * components] >> 4;
    const bool dc = !found_.progressive || (spectrum_start == 0 && approximation_high == 0);
    const bool ac = !found_.progressive || spectrum_start > 0;
    for (unsigned k = 0; k < components; ++k) {
      const unsigned tables = body[2 + 2 * k];
      if ((dc && (tables >> 4 > 3 || !defined_[tables >> 4])) ||
          (ac && ((tables & 15) > 3 || !defined_[4 + (tables & 15)])))
        found_.damaged_table = "a scan takes a Huffman table that was never defined";
    }
  }

  // A DHT segment's tables: a class and slot, sixteen counts, the symbols.
  void check_huffman_tables(const unsigned char* body, std::size_t size) {
    for (std::size_t at = 0; at < size && found_.damaged_table.empty();) {
      if (size - at < 17) {
        found_.damaged_table = "a Huffman table segment ends inside a table";
        break;
      }
      const unsigned kind = body[at];
      std::size_t codes = 0;
      for (std::size_t k = 1; k <= 16; ++k) codes += body[at + k];
      if ((kind >> 4) > 1 || (kind & 15) > 3)
        found_.damaged_table = "a Huffman table of an unknown class or slot";
      else if (codes > 256)
        found_.damaged_table = "a Huffman table of more than 256 codes";
      else if (size - at - 17 < codes)
        found_.damaged_table = "a Huffman table segment ends inside a table";
      else
        defined_[(kind >> 4) * 4 + (kind & 15)] = true;
      at += 17 + codes;
    }
  }

  // A scan's data run to the next marker that is neither a stuffed 0xFF
  // nor a restart marker.
  void skip_entropy_coded_data() {
    while (at_ + 1 < size_) {
      if (data_[at_] == 0xFF) {
        const unsigned following = data_[at_ + 1];
        if (following != 0 && following != 0xFF && !(following >= 0xD0 && following <= 0xD7))
          return;
        at_ += following == 0xFF ? 1 : 2;
        continue;
      }
      ++at_;
    }
    at_ = size_;
  }

  void read_frame(unsigned marker, const unsigned char* body, std::size_t size) {
    if (size < 6)
      reject("a frame header of " + std::to_string(size) + " bytes");
    found_.precision = body[0];
    found_.height = std::uint32_t{body[1]} << 8 | body[2];
    found_.width = std::uint32_t{body[3]} << 8 | body[4];
    found_.components = body[5];
    found_.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
    found_.unsupported = frame_kind_refused(marker);
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  jpeg_structure found_;
  bool defined_[8] = {};  // Huffman tables: DC 0 to 3, then AC 0 to 3
};

}  // namespace

jpeg_structure read_jpeg_structure(const unsigned char* data, std::size_t size, bool until_frame) {
  return marker_walk(data, size).run(until_frame);
}
