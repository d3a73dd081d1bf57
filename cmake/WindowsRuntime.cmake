# The Windows build's runtime: the mingw C++ runtime DLLs staged in bin64 (one runtime for
# every module), and the Wine wrapper through which tests and discovery run the programs.

# libstdc++, libgcc and winpthread as DLLs, found beside the cross compiler.
set(OSTARA_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}" OR NOT EXISTS "${found}")
    message(FATAL_ERROR "The mingw runtime ${dll} was not found (${found})")
  endif()
  file(COPY ${found} DESTINATION ${OSTARA_BIN_DIR})
  list(APPEND OSTARA_MINGW_RUNTIME_DLLS ${found})
endforeach()

# Every Wine run of this build uses the build's own prefix and finds the staged DLLs.
find_program(OSTARA_WINE NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
find_program(OSTARA_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(OSTARA_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(OSTARA_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.sh.in ${OSTARA_WINE_RUN} @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTARA_WINE_RUN})
