# The video wall's windows draw through the GDI/GDI+ subset.
target_link_libraries(kavrel_static PUBLIC platform_gdi)

kavrel_test(kavrel_ui_test
  ui/wall_layout_test.cpp
  ui/skin_button_test.cpp
  ui/video_tool_test.cpp
  ui/video_wall_test.cpp
  LIBS kavrel_static)

kavrel_test(kavrel_ui_screenshot_test ui/wall_screenshot_test.cpp LIBS kavrel_static PkgConfig::KAVREL_CAIRO)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/screenshots)
target_compile_definitions(kavrel_ui_screenshot_test PRIVATE
  KAVREL_UI_TESTDATA="${CMAKE_CURRENT_SOURCE_DIR}/ui/testdata" KAVREL_UI_SHOTS="${CMAKE_BINARY_DIR}/screenshots")

kavrel_test(kavrel_ui_control_test ui/control_wall_test.cpp LIBS kavrel_static kavrel_host)
