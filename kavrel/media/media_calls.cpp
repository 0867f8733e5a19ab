#include "kavrel/media/media_calls.h"

namespace kavrel {

const MediaCalls& library_media_calls() {
  static const MediaCalls calls{
      brixa_open_sound,
      brixa_close_sound,
      brixa_setvolume,
      brixa_ptz_command,
      brixa_set_fisheye_mount_mode,
      brixa_set_fisheye_visualization,
      brixa_save_picture,
      brixa_save_play_picture,
      brixa_start_recording,
      brixa_stop_recording,
      brixa_start_play_recording,
      brixa_stop_play_recording,
  };
  return calls;
}

}  // namespace kavrel
