# Live streams, captures and overlays, picture filters.

# The overlays and picture modes draw through the GDI subset; the stream exports parse named
# configurations with the ConfigSDK.
target_link_libraries(brixa_static PUBLIC platform_gdi configsdk)

kavrel_test(brixa_live_test
  live/altalux_filter_test.cpp
  live/capture_test.cpp
  live/resolution_test.cpp
  LIBS brixa_static platform_gdi_testing)
target_compile_definitions(brixa_live_test PRIVATE KAVREL_TEST_OUTPUT_DIR="${CMAKE_BINARY_DIR}/test-output")

# Live streams against the device simulator through the tunnel service, in process.
kavrel_test(brixa_live_stream_test live/live_streams_test.cpp
  LIBS brixa_static platform_gdi_testing sim_device sim_tunnel)
target_compile_definitions(brixa_live_stream_test PRIVATE KAVREL_TEST_OUTPUT_DIR="${CMAKE_BINARY_DIR}/test-output")

# Sound, PTZ, snapshots and local recordings against the device simulator through the tunnel
# service, in process.
kavrel_test(brixa_av_test live/av_test.cpp
  LIBS brixa_static platform_gdi_testing sim_device sim_tunnel)
