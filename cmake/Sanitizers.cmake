# Compiler and linker flags of the checked builds; included by the top-level CMakeLists
# before any target exists, so every library and program gets them.
#
# TAVREL_SANITIZE: AddressSanitizer (with leak checks) and UndefinedBehaviorSanitizer for
# the whole project, gcc or clang. Every finding ends the program with an error, so a test
# that hits one fails.
# TAVREL_FUZZ: clang only; the libraries get the fuzzer's coverage instrumentation and both
# sanitizers, the fuzz targets add the libFuzzer runtime (fuzz/CMakeLists.txt).

set(TAVREL_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

if(TAVREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "TAVREL_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++-14)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link ${TAVREL_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
elseif(TAVREL_SANITIZE)
  add_compile_options(${TAVREL_SANITIZER_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()
