# Sample files: readers, writers and sources against fixture files the tests build
# byte by byte, with libsndfile as the outside reader of our files.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
add_library(lv_media_fixtures STATIC ${CMAKE_CURRENT_LIST_DIR}/media_fixtures.cpp)

lv_add_test(media_files_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_files_test.cpp
  LIBS lv_media lv_media_fixtures PkgConfig::LV_SNDFILE
  LABELS media parse)

lv_add_test(media_mixer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_mixer_test.cpp
  LIBS lv_media
  LABELS media)

# Applets run by the built runtime with the null sink rendering to a file.
file(GLOB LV_MEDIA_APPLET_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/media_applets/*.lvs)
set(LV_MEDIA_APPLETS "")
foreach(src ${LV_MEDIA_APPLET_SOURCES})
  get_filename_component(stem ${src} NAME_WE)
  set(out ${CMAKE_BINARY_DIR}/tests/media/applets/${stem})
  lv_assemble(OUTPUT ${out}.lvc SOURCE ${src} LABELS ${out}.labels)
  set(extra "")
  if(stem STREQUAL "linked")
    set(extra ARGS --object 4:1:ramp480.wav:${CMAKE_CURRENT_LIST_DIR}/media_applets/ramp480.wav
        DEPENDS ${CMAKE_CURRENT_LIST_DIR}/media_applets/ramp480.wav)
  endif()
  lv_make_applet(OUTPUT ${out}.lva CHUNK ${out}.lvc LABELS ${out}.labels TARGET media_applet_${stem} ${extra})
  list(APPEND LV_MEDIA_APPLETS media_applet_${stem})
endforeach()
lv_add_test(media_applet_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_applet_test.cpp ${CMAKE_CURRENT_LIST_DIR}/media_fixtures.cpp
  LABELS media threads)
add_dependencies(media_applet_test lumivarra ${LV_MEDIA_APPLETS})

lv_add_test(media_samples_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_samples_test.cpp
  LIBS lv_media
  LABELS media)

lv_add_test(media_stress_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_stress_test.cpp
  LIBS lv_media
  LABELS media threads)

lv_add_test(media_adapter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_adapter_test.cpp
  LIBS lv_media
  LABELS media)

# The ProTracker player against references computed in the test from modules its
# writer builds.
lv_add_test(media_module_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_module_test.cpp ${CMAKE_CURRENT_LIST_DIR}/module_fixture.cpp
  LIBS lv_media lv_media_fixtures
  LABELS media parse)

# Musics and modules played by the runtime executable.
lv_add_test(media_music_applet_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_music_applet_test.cpp ${CMAKE_CURRENT_LIST_DIR}/media_fixtures.cpp
          ${CMAKE_CURRENT_LIST_DIR}/module_fixture.cpp
  LIBS lv_media
  LABELS media threads)
add_dependencies(media_music_applet_test lumivarra ${LV_MEDIA_APPLETS})

lv_add_test(media_music_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_music_test.cpp ${CMAKE_CURRENT_LIST_DIR}/module_fixture.cpp
  LIBS lv_media lv_media_fixtures
  LABELS media threads)

# The native decoder against files libsndfile writes in the test.
lv_add_test(media_native_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_native_test.cpp
  LIBS lv_media lv_media_fixtures PkgConfig::LV_SNDFILE
  LABELS media parse threads)

lv_add_test(media_music_adapter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_music_adapter_test.cpp ${CMAKE_CURRENT_LIST_DIR}/module_fixture.cpp
  LIBS lv_media lv_media_fixtures
  LABELS media threads)

# Video streams: the YUV conversions and the CDXL reader against its writer fixture.
lv_add_test(media_video_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_video_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdxl_fixture.cpp
  LIBS lv_media
  LABELS media parse)

# The video player engine's threads against the CDXL reader and a scripted stream.
lv_add_test(media_videoplayer_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/media_videoplayer_test.cpp ${CMAKE_CURRENT_LIST_DIR}/cdxl_fixture.cpp
  LIBS lv_media lv_media_fixtures lv_ui lv_images lv_raster lv_runtime
  LABELS media threads)
