# The real program under a private Xvfb, openbox and session bus, driven with
# xdotool, read through the accessibility tree and the sqlite3 tool.
# end_to_end.py holds the rig and the first scenarios; each further script
# imports the rig (`import end_to_end as e2e`) and runs as a test of its own.
add_executable(app_seed_notes SeedNotes.cpp)
target_link_libraries(app_seed_notes PRIVATE store Qt6::Core)
add_dependencies(app_seed_notes quillary)

function(quillary_add_end_to_end name script)
  add_test(NAME ${name}
    COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/${script}
            $<TARGET_FILE:quillary> $<TARGET_FILE:app_seed_notes> ${CMAKE_BINARY_DIR}/screenshots)
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "x11")
endfunction()

quillary_add_end_to_end(app_end_to_end_test end_to_end.py)
quillary_add_end_to_end(app_end_to_end_tray_test end_to_end_tray.py)
quillary_add_end_to_end(app_end_to_end_menus_test end_to_end_menus.py)
quillary_add_end_to_end(app_end_to_end_commands_test end_to_end_commands.py)
quillary_add_end_to_end(app_end_to_end_editor_test end_to_end_editor.py)
quillary_add_end_to_end(app_end_to_end_prefs_test end_to_end_prefs.py)
quillary_add_end_to_end(app_end_to_end_settings_test end_to_end_settings.py)
quillary_add_end_to_end(app_end_to_end_print_test end_to_end_print.py)
