#include "host/jpeg_encoder.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace host {
namespace {

// Errors end the picture through longjmp back into encode(); nothing with a destructor lives
// between the two.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

void on_error(j_common_ptr info) { std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1); }
void on_message(j_common_ptr) {}

// Writes straight into the caller's vector, growing it as the library asks for room.
struct VectorDestination {
  jpeg_destination_mgr base;
  std::vector<uint8_t>* out;
  size_t start;
};

constexpr size_t kChunk = 64 * 1024;

void init_destination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  dest->out->resize(dest->start + kChunk);
  dest->base.next_output_byte = dest->out->data() + dest->start;
  dest->base.free_in_buffer = kChunk;
}

boolean empty_output_buffer(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  size_t used = dest->out->size();
  dest->out->resize(used + used / 2 + kChunk);
  dest->base.next_output_byte = dest->out->data() + used;
  dest->base.free_in_buffer = dest->out->size() - used;
  return TRUE;
}

void term_destination(j_compress_ptr info) {
  auto* dest = reinterpret_cast<VectorDestination*>(info->dest);
  dest->out->resize(dest->out->size() - dest->base.free_in_buffer);
}

}  // namespace

struct JpegEncoder::State {
  jpeg_compress_struct info;
  ErrorManager errors;
  VectorDestination destination;
  int quality = 80;
  bool created = false;
};

JpegEncoder::JpegEncoder(int quality) : state_(std::make_unique<State>()) {
  state_->quality = quality;
  state_->info.err = jpeg_std_error(&state_->errors.base);
  state_->errors.base.error_exit = on_error;
  state_->errors.base.output_message = on_message;
  if (setjmp(state_->errors.jump) != 0) return;  // created stays false: every encode fails
  jpeg_create_compress(&state_->info);
  state_->created = true;
  state_->destination.base.init_destination = init_destination;
  state_->destination.base.empty_output_buffer = empty_output_buffer;
  state_->destination.base.term_destination = term_destination;
  state_->info.dest = &state_->destination.base;
}

JpegEncoder::~JpegEncoder() {
  if (state_->created) jpeg_destroy_compress(&state_->info);
}

bool JpegEncoder::encode(const uint8_t* pixels, int width, int height, int stride, std::vector<uint8_t>* out) {
  if (!state_->created || pixels == nullptr || width <= 0 || height <= 0 || width > 65500 || height > 65500) return false;
  State& s = *state_;
  s.destination.out = out;
  s.destination.start = out->size();
  if (setjmp(s.errors.jump) != 0) {
    jpeg_abort_compress(&s.info);
    out->resize(s.destination.start);
    return false;
  }
  s.info.image_width = static_cast<JDIMENSION>(width);
  s.info.image_height = static_cast<JDIMENSION>(height);
  s.info.input_components = 4;
  s.info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&s.info);  // YCbCr with 2x2 luma sampling: 4:2:0
  jpeg_set_quality(&s.info, s.quality, TRUE);
  s.info.dct_method = JDCT_IFAST;
  s.info.optimize_coding = FALSE;
  jpeg_start_compress(&s.info, TRUE);
  while (s.info.next_scanline < s.info.image_height) {
    JSAMPROW rows[16];
    JDIMENSION count = 0;
    while (count < 16 && s.info.next_scanline + count < s.info.image_height) {
      rows[count] = const_cast<JSAMPROW>(pixels + static_cast<size_t>(s.info.next_scanline + count) * static_cast<size_t>(stride));
      ++count;
    }
    jpeg_write_scanlines(&s.info, rows, count);
  }
  jpeg_finish_compress(&s.info);
  return true;
}

}  // namespace host
