# Sanitizer builds apply to everything in the tree, so the library, the
# simulated driver and the tests are all instrumented together.
if(QVX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(QVX_SANITIZED=1)
elseif(QVX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  add_compile_definitions(QVX_SANITIZED=1)
elseif(QVX_SANITIZE STREQUAL "fuzz")
  # libFuzzer's coverage in every object, ASan+UBSan as above; only the fuzz
  # target links the fuzzer itself (tests/fuzz).
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QVX_SANITIZE=fuzz needs clang")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
  add_compile_definitions(QVX_SANITIZED=1)
elseif(NOT QVX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QVX_SANITIZE must be empty, 'address', 'thread' or 'fuzz'")
endif()
