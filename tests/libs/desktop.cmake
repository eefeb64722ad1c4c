# The desktop's bell and notifications of the platform layer (libcanberra and libnotify,
# opened at run time), on a system without a notification service.
lv_add_test(libs_desktop_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/desktop_test.cpp LIBS lv_platform LABELS libs threads)
target_compile_definitions(libs_desktop_test PRIVATE
  LV_NOTIFYD_SCRIPT="${CMAKE_CURRENT_LIST_DIR}/desktop_fixtures/notifyd.py")
