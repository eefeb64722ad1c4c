# cmake -DPYTHON=... -DSCRIPT=tools/floors.py -DTREE=this folder -P check.cmake
# The checker run over this small tree must fail, naming exactly the includes that
# expected.txt lists: two upward (one angled), one sideways, one into the test tree.
execute_process(COMMAND ${PYTHON} ${SCRIPT} ${TREE}
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(READ ${TREE}/expected.txt expected)
if(NOT code EQUAL 1)
  message(FATAL_ERROR "floors.py exited with ${code}, not 1:\n${out}${err}")
endif()
if(NOT out STREQUAL expected)
  message(FATAL_ERROR "floors.py reported:\n${out}\nexpected:\n${expected}")
endif()
