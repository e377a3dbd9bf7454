# The real program under a private Xvfb, openbox and session bus, driven with
# xdotool, read through the accessibility tree and the sqlite3 tool.
add_executable(app_seed_notes SeedNotes.cpp)
target_link_libraries(app_seed_notes PRIVATE store Qt6::Core)
add_test(NAME app_end_to_end_test
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end.py
          $<TARGET_FILE:quillary> $<TARGET_FILE:app_seed_notes> ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(app_end_to_end_test PROPERTIES TIMEOUT 300 LABELS "x11")
add_dependencies(app_seed_notes quillary)
