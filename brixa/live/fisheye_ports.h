// The fisheye pipeline's play-port side: the registry through which the port's callbacks find
// their stream, the callbacks themselves, and the parameter block's initial fill.
#pragma once

#include <cstdint>
#include <memory>

#include "brixa/live/live_channels.h"

namespace brixa::live {

// Enters the port's record so its callbacks reach it; removes it. Any thread.
void register_fisheye_port(const std::shared_ptr<FisheyePort>& port);
void unregister_fisheye_port(int32_t port);
std::shared_ptr<FisheyePort> find_fisheye_port(int32_t port);

// Fills the parameter block with its initial values and the display record with the screen
// size and an empty work area. `params_lock` is held by the caller.
void fill_fisheye_params(FisheyePort& port);

// The PlaySDK and NetSDK callbacks of a fisheye stream; the user value is the play port.
void fisheye_draw_callback(int32_t port, void* dc, intptr_t user);
void fisheye_info_callback(int32_t port, uint8_t correction_mode, uint16_t radius, uint16_t center_x,
                           uint16_t center_y, int32_t width_ratio, int32_t height_ratio, uint8_t gain,
                           uint8_t denoise_level, uint8_t installation_style, intptr_t user);
void fisheye_real_data_callback(int32_t stream_handle, uint32_t data_type, const uint8_t* data, uint32_t size,
                                int32_t param, intptr_t user);

}  // namespace brixa::live
