# components.cmake: read by cpack after its configuration (CPACK_PROJECT_CONFIG_FILE). With
# KESTREL_CPACK_COMPONENTS set in the environment (a ;-list such as "engine;sample"), only
# those packages are made: their files alone need to be built.
if(DEFINED ENV{KESTREL_CPACK_COMPONENTS} AND NOT "$ENV{KESTREL_CPACK_COMPONENTS}" STREQUAL "")
  set(CPACK_COMPONENTS_ALL $ENV{KESTREL_CPACK_COMPONENTS})
endif()
