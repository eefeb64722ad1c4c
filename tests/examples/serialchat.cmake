# The serial chat example applet, run as build/examples/serialchat by two processes over
# a socat pair and over a relay of two pseudo-terminal pairs in the test (which corrupts,
# forges and watches frames); its Settings.dat against serialchat_fixtures/. A test copy
# linked with the test display and requester adapters, which requires them through the
# ".ini" file beside it (its flags let the file carry options), is driven by the display
# adapter's input script (clicks, typing, keys) and the requester adapter's answers as a
# user drives the window.
set(LV_SERIALCHAT_TEST_DIR ${CMAKE_BINARY_DIR}/tests/examples)
lv_make_applet(OUTPUT ${LV_SERIALCHAT_TEST_DIR}/serialchat_adapter.lva
               CHUNK ${CMAKE_BINARY_DIR}/examples/serialchat.lvc
               LABELS ${CMAKE_BINARY_DIR}/examples/serialchat.labels
               ARGS --title "Serial chat" --flags 0x200
               PACK TARGET applet_serialchat_adapter)
lv_link_executable(OUTPUT ${LV_SERIALCHAT_TEST_DIR}/serialchat_adapter
                   RUNTIME lumivarra
                   APPLET ${LV_SERIALCHAT_TEST_DIR}/serialchat_adapter.lva
                   PLUGINS ${CMAKE_BINARY_DIR}/testplugins/testadapter.lvp
                           ${CMAKE_BINARY_DIR}/testplugins/testrequester.lvp
                   TARGET linked_serialchat_adapter
                   DEPENDS applet_serialchat_adapter testadapter_plugin testrequester_plugin)
file(WRITE ${LV_SERIALCHAT_TEST_DIR}/serialchat_adapter.ini "REQUIREPLUGINS = testadapter|testrequester\n")
lv_add_test(examples_serialchat_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialchat_test.cpp
  LIBS util
  LABELS examples threads)
add_dependencies(examples_serialchat_test linked_serialchat linked_serialchat_adapter)
