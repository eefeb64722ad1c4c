# Picture files: identification, readers and writers against files the tests write with
# libpng and libjpeg-turbo (and a BMP builder); the loader chain with the "imgloader"
# test plug-in (built by tests/runtime/plugins.cmake); and the runtime executable running
# an applet whose plug-in command uses the picture entries of the plug-in interface.
find_package(PNG REQUIRED)
find_package(JPEG REQUIRED)
set(LV_FORMATS_PLUGIN_DIR ${CMAKE_BINARY_DIR}/testplugins)
add_library(lv_formats_fixtures STATIC ${CMAKE_CURRENT_LIST_DIR}/formats_fixtures.cpp)
target_link_libraries(lv_formats_fixtures PUBLIC PNG::PNG JPEG::JPEG)

lv_add_test(formats_readers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_readers_test.cpp
  LIBS lv_formats lv_formats_fixtures ZLIB::ZLIB
  LABELS formats parse)

lv_add_test(formats_chain_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_chain_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats)
target_compile_definitions(formats_chain_test PRIVATE LV_TESTPLUGIN_DIR="${LV_FORMATS_PLUGIN_DIR}")
add_dependencies(formats_chain_test testplugin_imgloader)

set(LV_FORMATS_APPLET_DIR ${CMAKE_BINARY_DIR}/tests/formats)
lv_assemble(OUTPUT ${LV_FORMATS_APPLET_DIR}/pictures.lvc SOURCE ${CMAKE_CURRENT_LIST_DIR}/formats_fixtures/pictures.lvs)
lv_make_applet(OUTPUT ${LV_FORMATS_APPLET_DIR}/pictures.lva CHUNK ${LV_FORMATS_APPLET_DIR}/pictures.lvc
  TARGET applet_formats_pictures)
lv_add_test(formats_applet_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_applet_test.cpp
  LIBS lv_formats_fixtures ZLIB::ZLIB
  LABELS formats)
target_compile_definitions(formats_applet_test PRIVATE LV_TESTPLUGIN_DIR="${LV_FORMATS_PLUGIN_DIR}"
  LV_FORMATS_APPLET="${LV_FORMATS_APPLET_DIR}/pictures.lva")
add_dependencies(formats_applet_test lumivarra testplugin_imgloader applet_formats_pictures)

# GIF, IFF and the native decoder: files from test-side builders and from giflib,
# libtiff and libwebp at test time.
find_package(GIF REQUIRED)
lv_add_test(formats_gif_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_gif_test.cpp
  LIBS lv_formats lv_formats_fixtures GIF::GIF
  LABELS formats parse)
lv_add_test(formats_ilbm_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_ilbm_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats parse)
find_package(TIFF REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_WEBP_WRITE REQUIRED IMPORTED_TARGET libwebp libwebpmux)
target_link_libraries(formats_applet_test PRIVATE TIFF::TIFF PkgConfig::LV_WEBP_WRITE)
lv_add_test(formats_native_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_native_test.cpp
  LIBS lv_formats lv_formats_fixtures TIFF::TIFF PkgConfig::LV_WEBP_WRITE
  LABELS formats parse)
lv_add_test(formats_savers_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_savers_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats)
target_compile_definitions(formats_savers_test PRIVATE LV_TESTPLUGIN_DIR="${LV_FORMATS_PLUGIN_DIR}")
add_dependencies(formats_savers_test testplugin_saver)
# IFF ANIM: hand-built deltas of every method and the writer's files.
lv_add_test(formats_iffanim_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_iffanim_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats parse)
# AVI: a test-side RIFF builder for the reader, a RIFF walk of the test's own for the writer.
lv_add_test(formats_avi_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_avi_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats parse)
# Anim handles over the runtime's readers and the native decoder.
lv_add_test(formats_animhandle_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_animhandle_test.cpp
  LIBS lv_formats lv_formats_fixtures PkgConfig::LV_WEBP_WRITE
  LABELS formats)
lv_add_test(formats_animwriter_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_animwriter_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats)
# The anim loader and saver test plug-in.
add_library(testplugin_animplugin MODULE ${CMAKE_SOURCE_DIR}/tests/plugins/animplugin.cpp)
set_target_properties(testplugin_animplugin PROPERTIES PREFIX "" OUTPUT_NAME animplugin SUFFIX ".lvp"
  LIBRARY_OUTPUT_DIRECTORY ${LV_FORMATS_PLUGIN_DIR} CXX_VISIBILITY_PRESET hidden)
lv_add_test(formats_animplugin_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/formats_animplugin_test.cpp
  LIBS lv_formats lv_formats_fixtures
  LABELS formats)
target_compile_definitions(formats_animplugin_test PRIVATE LV_TESTPLUGIN_DIR="${LV_FORMATS_PLUGIN_DIR}")
add_dependencies(formats_animplugin_test testplugin_animplugin)
# The memfs file adapter (tests/runtime/plugins.cmake) serves the unseekable stream.
target_compile_definitions(formats_animplugin_test PRIVATE LV_MEMFS_PLUGIN="${CMAKE_BINARY_DIR}/testplugins/memfs.lvp")
add_dependencies(formats_animplugin_test testplugin_memfs)
