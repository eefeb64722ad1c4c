# Applet container reader and link marker.
lv_add_test(container_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/container_test.cpp
  LIBS lv_runtime ZLIB::ZLIB
  LABELS parse)
