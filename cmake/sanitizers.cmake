# The sanitizer and fuzz builds: compile and link options for every target of the build.
set(KAVELON_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer)

if(KAVELON_SANITIZE AND KAVELON_FUZZ)
  message(FATAL_ERROR "KAVELON_SANITIZE and KAVELON_FUZZ are two separate builds")
endif()

# What every test of the sanitizer build runs with (and passes on to the programs it starts):
# stop at the first fault, and leave out the leaks of the system's libraries that
# tests/sanitizer/lsan.supp lists.
set(KAVELON_SANITIZER_ENVIRONMENT)
if(KAVELON_SANITIZE)
  add_compile_options(${KAVELON_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
  set(KAVELON_SANITIZER_ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizer/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()

if(KAVELON_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KAVELON_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++-14)")
  endif()
  # The code under test is instrumented for coverage; each target links libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link ${KAVELON_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
