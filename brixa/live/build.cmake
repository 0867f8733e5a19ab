# Live streams, captures and overlays, picture filters.
kavrel_test(brixa_live_test
  live/altalux_filter_test.cpp
  LIBS brixa_static)

# The overlays and picture modes draw through the GDI subset; the stream exports parse named
# configurations with the ConfigSDK.
target_link_libraries(brixa_static PUBLIC platform_gdi configsdk)
