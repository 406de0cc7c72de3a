# SQLite, which keeps the unit's history, as the target varnok::sqlite. On Linux Debian's
# (libsqlite3-dev); on Windows the static library scripts/build-sqlite-mingw.sh builds with
# MinGW-w64 from Debian's source into its cache (VARNOK_SQLITE_MINGW, ~/.cache/varnok/sqlite-mingw).
if(TARGET varnok::sqlite)
  return()
endif()

if(WIN32)
  if(DEFINED ENV{VARNOK_SQLITE_MINGW})
    set(sqlite_default "$ENV{VARNOK_SQLITE_MINGW}")
  else()
    set(sqlite_default "$ENV{HOME}/.cache/varnok/sqlite-mingw")
  endif()
  set(VARNOK_SQLITE_MINGW "${sqlite_default}" CACHE PATH "SQLite built for Windows")
  if(NOT EXISTS "${VARNOK_SQLITE_MINGW}/.complete")
    message(FATAL_ERROR "No SQLite for Windows in ${VARNOK_SQLITE_MINGW}: run scripts/build-sqlite-mingw.sh")
  endif()
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
