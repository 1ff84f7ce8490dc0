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

# The drawing layer, the renderer and the web service's picture code spend a map's time in
# pixel and vertex loops that GCC vectorises only at -O3, so the default optimised build
# (RelWithDebInfo, -O2) compiles them at -O3. Release is -O3 throughout already.
function(kestrel_pixel_code target)
  target_compile_options(${target} PRIVATE $<$<CONFIG:RelWithDebInfo>:-O3>)
endfunction()
