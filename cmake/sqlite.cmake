# SQLite, which keeps the unit's history, as the target varnok::sqlite. On Linux Debian's
# (libsqlite3-dev); on Windows the static library scripts/build-sqlite-mingw.sh builds with
# MinGW-w64 from Debian's source into its cache (VARNOK_SQLITE_MINGW, ~/.cache/varnok/sqlite-mingw).
if(TARGET varnok::sqlite)
  return()
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-cache.cmake)
  varnok_mingw_cache(VARNOK_SQLITE_MINGW sqlite-mingw "SQLite" build-sqlite-mingw.sh)
  find_path(SQLITE_INCLUDE sqlite3.h PATHS ${VARNOK_SQLITE_MINGW}/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  find_library(SQLITE_LIBRARY NAMES libsqlite3.a PATHS ${VARNOK_SQLITE_MINGW}/lib NO_DEFAULT_PATH
               NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  add_library(varnok::sqlite STATIC IMPORTED)
  set_target_properties(varnok::sqlite PROPERTIES IMPORTED_LOCATION ${SQLITE_LIBRARY}
                        INTERFACE_INCLUDE_DIRECTORIES ${SQLITE_INCLUDE})
  return()
endif()

find_package(SQLite3 REQUIRED)
add_library(varnok::sqlite INTERFACE IMPORTED)
target_link_libraries(varnok::sqlite INTERFACE SQLite::SQLite3)
