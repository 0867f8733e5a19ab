# The module's pictures and sounds, embedded as byte arrays generated from the committed files.
set(KAVREL_EMBEDDED_RESOURCES
  1   BITMAP icons/1_toolbox.bmp
  201 PNG    icons/201_close.png
  203 PNG    icons/203_speakers_muted.png
  204 PNG    icons/204_snapshot.png
  205 PNG    icons/205_speakers.png
  206 PNG    icons/206_record.png
  207 PNG    icons/207_recording.png
  208 PNG    icons/208_alarm_on.png
  209 PNG    icons/209_alarm_off.png
  210 PNG    icons/210_history.png
  211 PNG    icons/211_blc.png
  212 PNG    icons/212_freeze.png
  301 WAVE   sounds/301_snapshot.wav
  302 WAVE   sounds/302_record.wav
  303 WAVE   sounds/303_alarm.wav
)
set(embedded_files "")
set(index 2)
list(LENGTH KAVREL_EMBEDDED_RESOURCES resource_items)
while(index LESS resource_items)
  list(GET KAVREL_EMBEDDED_RESOURCES ${index} file)
  list(APPEND embedded_files ${CMAKE_CURRENT_SOURCE_DIR}/resources/${file})
  math(EXPR index "${index} + 3")
endwhile()
set(embedded_cpp ${CMAKE_CURRENT_BINARY_DIR}/embedded_resources.cpp)
add_custom_command(
  OUTPUT ${embedded_cpp}
  COMMAND ${CMAKE_COMMAND} -DOUT=${embedded_cpp} -DSOURCE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/resources
          "-DENTRIES=${KAVREL_EMBEDDED_RESOURCES}" -P ${CMAKE_CURRENT_SOURCE_DIR}/resources/embed_resources.cmake
  DEPENDS ${embedded_files} ${CMAKE_CURRENT_SOURCE_DIR}/resources/embed_resources.cmake
  COMMENT "Embedding the control module's pictures"
  VERBATIM)
target_sources(kavrel_static PRIVATE ${embedded_cpp})

# The program that draws the pictures; built on demand (its output is committed).
pkg_check_modules(KAVREL_CAIRO IMPORTED_TARGET cairo)
if(KAVREL_CAIRO_FOUND)
  add_executable(kavrel_icon_gen EXCLUDE_FROM_ALL resources/icons/icon_gen.cpp)
  target_compile_options(kavrel_icon_gen PRIVATE -Wshadow -Wold-style-cast)
  target_link_libraries(kavrel_icon_gen PRIVATE PkgConfig::KAVREL_CAIRO)
  add_custom_target(kavrel_icons
    COMMAND kavrel_icon_gen ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons
    DEPENDS kavrel_icon_gen
    COMMENT "Drawing the control module's pictures into kavrel/resources/icons")
endif()

# The program that writes the sounds; built on demand (its output is committed).
add_executable(kavrel_sound_gen EXCLUDE_FROM_ALL resources/sounds/sound_gen.cpp)
add_custom_target(kavrel_sounds
  COMMAND kavrel_sound_gen ${CMAKE_CURRENT_SOURCE_DIR}/resources/sounds
  DEPENDS kavrel_sound_gen
  COMMENT "Writing the control module's sounds into kavrel/resources/sounds")
