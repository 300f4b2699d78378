// JPEG through libjpeg-turbo: the file read in pieces as the decoder asks
// for them and decoded row by row straight into the picture (as BGRA, the
// picture's own byte order), and written row by row from it. libjpeg
// reports errors by calling back, and its callbacks must not unwind
// through its C frames: they jump back to the call that started the work,
// which then throws. Every warning about the data (a file cut short, a bad
// code) stops the picture too, so that nothing is stamped halfway; only
// padding before the end-of-image marker passes.

// jpeglib.h takes size_t and FILE from what comes before it.
#include <cstddef>
#include <cstdio>
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <vector>

#include "refhost/pictures/jpeg_codec.hpp"
#include "refhost/pictures/tga_codec.hpp"

namespace {

constexpr std::size_t buffer_bytes = std::size_t{64} << 10;

[[noreturn]] void reject(const std::string& reason) {
  throw image_format_error("JPEG: " + reason);
}

// Where libjpeg's errors go: a message and a jump back.
struct error_jump {
  jpeg_error_mgr manager{};
  std::jmp_buf back{};
  char message[JMSG_LENGTH_MAX] = {};
  std::exception_ptr thrown;  // what a source or sink threw, to throw on

  static void fail(j_common_ptr info) {
    auto* self = reinterpret_cast<error_jump*>(info->err);
    if (!self->thrown)
      (*info->err->format_message)(info, self->message);
    std::longjmp(self->back, 1);
  }
  static void warn(j_common_ptr info, int level) {
    if (level >= 0)
      return;  // traces
    const jpeg_error_mgr& manager = *info->err;
    const bool padding_at_end =
        manager.msg_code == JWRN_EXTRANEOUS_DATA && manager.msg_parm.i[1] == JPEG_EOI;
    if (!padding_at_end)
      fail(info);
  }

  void install(jpeg_error_mgr** slot) {
    *slot = jpeg_std_error(&manager);
    manager.error_exit = fail;
    manager.emit_message = warn;
  }
  // Throws what went wrong, once back from a jump.
  [[noreturn]] void throw_failure() const {
    if (thrown)
      std::rethrow_exception(thrown);
    if (std::string(message).find("Insufficient memory") != std::string::npos)
      throw std::bad_alloc();
    reject(message);
  }
};
static_assert(offsetof(error_jump, manager) == 0, "libjpeg's error manager comes first");

struct source_reader {
  jpeg_source_mgr manager{};
  const byte_source* source = nullptr;
  error_jump* errors = nullptr;
  std::vector<unsigned char> buffer = std::vector<unsigned char>(buffer_bytes);

  static void start(j_decompress_ptr) {}
  static boolean fill(j_decompress_ptr info) {
    auto* self = reinterpret_cast<source_reader*>(info->src);
    std::size_t got = 0;
    try {
      got = (*self->source)(self->buffer.data(), self->buffer.size());
    } catch (...) {
      self->errors->thrown = std::current_exception();
      error_jump::fail(reinterpret_cast<j_common_ptr>(info));
    }
    if (got == 0) {
      // The file ends before the data do: warned about, and so refused.
      WARNMS(info, JWRN_JPEG_EOF);
      static const unsigned char end_of_image[] = {0xFF, JPEG_EOI};
      self->manager.next_input_byte = end_of_image;
      self->manager.bytes_in_buffer = sizeof end_of_image;
      return TRUE;
    }
    self->manager.next_input_byte = self->buffer.data();
    self->manager.bytes_in_buffer = got;
    return TRUE;
  }
  static void skip(j_decompress_ptr info, long count) {
    auto* self = reinterpret_cast<source_reader*>(info->src);
    while (count > 0) {
      if (self->manager.bytes_in_buffer == 0)
        fill(info);
      const std::size_t step =
          std::min<std::size_t>(static_cast<std::size_t>(count), self->manager.bytes_in_buffer);
      self->manager.next_input_byte += step;
      self->manager.bytes_in_buffer -= step;
      count -= static_cast<long>(step);
    }
  }
  static void finish(j_decompress_ptr) {}

  source_reader(const byte_source& from, error_jump& jump) : source(&from), errors(&jump) {
    manager.init_source = start;
    manager.fill_input_buffer = fill;
    manager.skip_input_data = skip;
    manager.resync_to_restart = jpeg_resync_to_restart;
    manager.term_source = finish;
  }
};
static_assert(offsetof(source_reader, manager) == 0, "libjpeg's source manager comes first");

struct sink_writer {
  jpeg_destination_mgr manager{};
  const byte_sink* sink = nullptr;
  error_jump* errors = nullptr;
  std::vector<unsigned char> buffer = std::vector<unsigned char>(buffer_bytes);

  void hand_on(j_compress_ptr info, std::size_t size) {
    try {
      (*sink)(buffer.data(), size);
    } catch (...) {
      errors->thrown = std::current_exception();
      error_jump::fail(reinterpret_cast<j_common_ptr>(info));
    }
  }
  static void start(j_compress_ptr info) {
    auto* self = reinterpret_cast<sink_writer*>(info->dest);
    self->manager.next_output_byte = self->buffer.data();
    self->manager.free_in_buffer = self->buffer.size();
  }
  static boolean empty(j_compress_ptr info) {
    auto* self = reinterpret_cast<sink_writer*>(info->dest);
    self->hand_on(info, self->buffer.size());
    start(info);
    return TRUE;
  }
  static void finish(j_compress_ptr info) {
    auto* self = reinterpret_cast<sink_writer*>(info->dest);
    self->hand_on(info, self->buffer.size() - self->manager.free_in_buffer);
  }

  sink_writer(const byte_sink& to, error_jump& jump) : sink(&to), errors(&jump) {
    manager.init_destination = start;
    manager.empty_output_buffer = empty;
    manager.term_destination = finish;
  }
};
static_assert(offsetof(sink_writer, manager) == 0, "libjpeg's destination manager comes first");

struct decompression {
  jpeg_decompress_struct info{};
  ~decompression() { jpeg_destroy_decompress(&info); }
};

struct compression {
  jpeg_compress_struct info{};
  ~compression() { jpeg_destroy_compress(&info); }
};

// The checks between the header and the pixels; an empty text when the
// picture can be read.
std::string refusal(const jpeg_decompress_struct& info) {
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK)
    return "CMYK pictures are not supported";
  if (info.num_components != 1 && info.num_components != 3)
    return "pictures of " + std::to_string(info.num_components) + " components are not supported";
  if (std::uint64_t{info.image_width} * info.image_height >
      static_cast<std::uint64_t>(memory_image::max_pixels)) {
    return "a picture of " + std::to_string(info.image_width) + "x" +
           std::to_string(info.image_height) + " pixels is beyond what the host supports";
  }
  return {};
}

}  // namespace

picture read_jpeg_libjpeg(const byte_source& source) {
  picture result;
  error_jump errors;
  source_reader reader(source, errors);
  decompression work;
  std::string refused;
  if (setjmp(errors.back) != 0)
    errors.throw_failure();
  errors.install(&work.info.err);
  jpeg_create_decompress(&work.info);
  work.info.src = &reader.manager;
  jpeg_save_markers(&work.info, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&work.info, TRUE);
  refused = refusal(work.info);
  if (!refused.empty())
    reject(refused);
  JOCTET* profile = nullptr;
  unsigned int profile_size = 0;
  if (jpeg_read_icc_profile(&work.info, &profile, &profile_size)) {
    // Nothing of libjpeg's runs until it is freed.
    const std::unique_ptr<JOCTET, decltype(&std::free)> owned(profile, &std::free);
    result.source.icc_profile.assign(profile, profile + profile_size);
  }
  result.source.grey = work.info.num_components == 1;
  work.info.out_color_space = JCS_EXT_BGRA;
  jpeg_start_decompress(&work.info);
  result.view = make_host_image(static_cast<std::int32_t>(work.info.output_width),
                                static_cast<std::int32_t>(work.info.output_height));
  while (work.info.output_scanline < work.info.output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(
        &result.view->at(0, static_cast<std::int32_t>(work.info.output_scanline)));
    jpeg_read_scanlines(&work.info, &row, 1);
  }
  jpeg_finish_decompress(&work.info);
  return result;
}

void write_jpeg_libjpeg(const memory_image& view, bool grey,
                        const std::vector<unsigned char>& icc_profile, const byte_sink& sink,
                        int quality) {
  error_jump errors;
  sink_writer writer(sink, errors);
  compression work;
  std::vector<unsigned char> grey_row(grey ? static_cast<std::size_t>(view.width()) : 0);
  if (setjmp(errors.back) != 0)
    errors.throw_failure();
  errors.install(&work.info.err);
  jpeg_create_compress(&work.info);
  work.info.dest = &writer.manager;
  work.info.image_width = static_cast<JDIMENSION>(view.width());
  work.info.image_height = static_cast<JDIMENSION>(view.height());
  work.info.input_components = grey ? 1 : 4;
  work.info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX;
  jpeg_set_defaults(&work.info);
  jpeg_set_quality(&work.info, std::clamp(quality, 1, 100), TRUE);
  // libjpeg's standard Huffman tables: tables made for the picture save a
  // tenth of the file, but libjpeg holds all the picture's coefficients
  // for them, three quarters of the picture again.
  work.info.optimize_coding = FALSE;
  if (quality > 90) {
    work.info.comp_info[0].h_samp_factor = 1;
    work.info.comp_info[0].v_samp_factor = 1;
  }
  jpeg_start_compress(&work.info, TRUE);
  if (!icc_profile.empty())
    jpeg_write_icc_profile(&work.info, icc_profile.data(),
                           static_cast<unsigned>(icc_profile.size()));
  while (work.info.next_scanline < work.info.image_height) {
    const Bgra8* pixels = &view.at(0, static_cast<std::int32_t>(work.info.next_scanline));
    JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const JSAMPLE*>(pixels));
    if (grey) {
      for (std::size_t x = 0; x < grey_row.size(); ++x) grey_row[x] = pixels[x].red;
      row = grey_row.data();
    }
    jpeg_write_scanlines(&work.info, &row, 1);
  }
  jpeg_finish_compress(&work.info);
}
