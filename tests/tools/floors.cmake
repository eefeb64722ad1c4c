# The floors: no product folder includes a higher floor's headers, nor a sibling's
# (tools/floors.py holds the table). The second test shows the checker fails, naming
# file, line and include, on a small tree that breaks the rule three ways.
find_package(Python3 COMPONENTS Interpreter REQUIRED)
add_test(NAME tools_floors_test
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/floors.py ${CMAKE_SOURCE_DIR})
add_test(NAME tools_floors_catches_test
  COMMAND ${CMAKE_COMMAND} -DPYTHON=${Python3_EXECUTABLE} -DSCRIPT=${CMAKE_SOURCE_DIR}/tools/floors.py
          -DTREE=${CMAKE_CURRENT_LIST_DIR}/floors_fixtures -P ${CMAKE_CURRENT_LIST_DIR}/floors_fixtures/check.cmake)
set_tests_properties(tools_floors_test tools_floors_catches_test PROPERTIES LABELS "tools" TIMEOUT 30)
