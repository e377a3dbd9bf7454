# Build switches shared by every target.
option(QUILLARY_BUILD_TESTS "Build the test suite" ON)
option(QUILLARY_BUILD_BENCH "Build the benchmarks" OFF)
option(QUILLARY_BUILD_FUZZ "Build the libFuzzer targets (clang only)" OFF)
set(QUILLARY_SANITIZE "" CACHE STRING "Sanitizer build: address (ASan+UBSan), thread, or empty")

add_compile_options(-Wall -Wextra)
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  add_compile_options(-Werror)
endif()

if(QUILLARY_BUILD_FUZZ)
  # Every library is instrumented for coverage; only the fuzz executables get
  # libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QUILLARY_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(QUILLARY_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT QUILLARY_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUILLARY_SANITIZE must be address, thread or empty")
endif()
