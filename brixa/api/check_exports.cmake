# Fails when the library exports a symbol that is not a brixa function.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
set(found 0)
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${line}")
  if(name MATCHES "^(brixa_|biz_)")
    math(EXPR found "${found} + 1")
  elseif(NOT name MATCHES "^(_init|_fini|BRIXA_[0-9.]*)$")
    message(FATAL_ERROR "libbrixa.so exports an internal symbol: ${name}")
  endif()
endforeach()
foreach(required brixa_init brixa_uninit brixa_set_port_range brixa_create brixa_release
                 brixa_cli_attach_callback brixa_cli_detach_callback brixa_error brixa_play_error
                 biz_create biz_release biz_get_list_sn biz_get_device_list biz_get_cam_list biz_get_list
                 biz_set_device_list biz_set_cam_list brixa_aes_decrypt
                 brixa_start_realplay brixa_stop_realplay brixa_get_channel_resolution
                 brixa_get_connection_type brixa_set_fisheye_mount_mode brixa_set_fisheye_visualization
                 brixa_set_history_mode brixa_set_history_interval brixa_set_wdr_mode brixa_set_wdr_intensity
                 brixa_set_freeze_mode
                 brixa_start_playback brixa_stop_playback brixa_control_playback brixa_start_backup
                 brixa_stop_backup brixa_query_record_files brixa_query_record_status
                 brixa_open_sound brixa_close_sound brixa_setvolume brixa_ptz_command
                 brixa_save_picture brixa_save_play_picture brixa_start_recording brixa_stop_recording
                 brixa_start_play_recording brixa_stop_play_recording
                 brixa_start_listen_alert brixa_stop_listen_alert brixa_start_search_devices
                 brixa_stop_search_devices)
  if(NOT symbols MATCHES " T ${required}\n")
    message(FATAL_ERROR "libbrixa.so does not export ${required}")
  endif()
endforeach()
message(STATUS "libbrixa.so exports ${found} brixa functions and nothing else")
