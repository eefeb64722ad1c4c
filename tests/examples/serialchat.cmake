# The serial chat example applet, run as build/examples/serialchat by two processes over
# a socat pair and over a relay of two pseudo-terminal pairs in the test (which corrupts,
# forges and watches frames); its Settings.dat against serialchat_fixtures/.
lv_add_test(examples_serialchat_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/serialchat_test.cpp
  LIBS util
  LABELS examples threads)
add_dependencies(examples_serialchat_test linked_serialchat)
