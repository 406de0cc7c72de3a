# libharu, which draws the protocol's PDF, as the target varnok::haru. On Linux Debian's
# (libhpdf-dev); on Windows the static library scripts/build-haru-mingw.sh builds with MinGW-w64
# into its cache (VARNOK_HARU_MINGW, ~/.cache/varnok/haru-2.3.0-mingw by default), with zlib.
if(TARGET varnok::haru)
  return()
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-cache.cmake)
  varnok_mingw_cache(VARNOK_HARU_MINGW haru-2.3.0-mingw "libharu" build-haru-mingw.sh)
  find_path(HARU_INCLUDE hpdf.h PATHS ${VARNOK_HARU_MINGW}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(HARU_LIBRARY NAMES libhpdf.a hpdf PATHS ${VARNOK_HARU_MINGW}/lib NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
               REQUIRED)
  find_library(HARU_ZLIB NAMES libz.a z REQUIRED)
  add_library(varnok::haru STATIC IMPORTED)
  set_target_properties(varnok::haru PROPERTIES IMPORTED_LOCATION ${HARU_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${HARU_INCLUDE}
                        INTERFACE_LINK_LIBRARIES ${HARU_ZLIB})
  return()
endif()

find_path(HARU_INCLUDE hpdf.h REQUIRED)
find_library(HARU_LIBRARY hpdf REQUIRED)
add_library(varnok::haru UNKNOWN IMPORTED)
set_target_properties(varnok::haru PROPERTIES IMPORTED_LOCATION ${HARU_LIBRARY} INTERFACE_INCLUDE_DIRECTORIES ${HARU_INCLUDE})
