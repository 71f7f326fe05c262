# The sanitizer and fuzz builds: compile and link options for every target of the build.
set(KAVELON_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)

if(KAVELON_SANITIZE AND KAVELON_FUZZ)
  message(FATAL_ERROR "KAVELON_SANITIZE and KAVELON_FUZZ are two separate builds")
endif()

if(KAVELON_SANITIZE)
  add_compile_options(${KAVELON_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

if(KAVELON_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KAVELON_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++-14)")
  endif()
  # The code under test is instrumented for coverage; each target links libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link ${KAVELON_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
