# quillary_glob_library(<name> LIBS <targets...>)
# A static library made of every .cpp and .h in the calling folder, with the
# repository root on the include path (headers are included as "store/Note.h").
function(quillary_glob_library name)
  cmake_parse_arguments(L "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${L_LIBS})
endfunction()

# quillary_test_folder(): includes every *.cmake fragment of a tests/ or bench/
# folder, so that each topic keeps its own fragment.
macro(quillary_test_folder)
  file(GLOB _fragments CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cmake)
  list(SORT _fragments)
  foreach(_fragment IN LISTS _fragments)
    include(${_fragment})
  endforeach()
endmacro()
