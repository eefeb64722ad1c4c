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
