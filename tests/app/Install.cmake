# The installed program: `cmake --install` of this build tree into a private
# home's ~/.local, then `quillary`, the login item's launcher, the desktop
# entries and the URL handler used from there, under the end-to-end rig.
add_test(NAME app_installed_program_starts_test
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/end_to_end_install.py
          ${CMAKE_COMMAND} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/screenshots)
set_tests_properties(app_installed_program_starts_test PROPERTIES TIMEOUT 300 LABELS "x11")
