# Live streams, captures and overlays, picture filters.
kavrel_test(brixa_live_test
  live/altalux_filter_test.cpp
  LIBS brixa_static)
