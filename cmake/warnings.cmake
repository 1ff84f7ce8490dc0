# Warnings are on for every target of the project and must stay clean. CI builds (and
# scripts/test.sh) configure with -DKESTREL_WERROR=ON, which turns every warning into an error.
option(KESTREL_WERROR "Treat compiler warnings as errors" OFF)
add_compile_options(-Wall -Wextra -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-Wno-missing-field-initializers>)
endif()
if(KESTREL_WERROR)
  add_compile_options(-Werror)
endif()
