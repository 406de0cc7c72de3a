# libmosquitto with OpenSSL, which read --mqtt needs, as the target varnok::mqtt. On Linux
# Debian's (libmosquitto-dev); on Windows the static libraries scripts/build-mqtt-mingw.sh
# builds with MinGW-w64 from Debian's sources into its cache (VARNOK_MQTT_MINGW,
# ~/.cache/varnok/mqtt-mingw), linked into the .exe with the system libraries they use.
if(TARGET varnok::mqtt)
  return()
endif()

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/mingw-cache.cmake)
  varnok_mingw_cache(VARNOK_MQTT_MINGW mqtt-mingw "libmosquitto" build-mqtt-mingw.sh)
  add_library(varnok::mqtt INTERFACE IMPORTED)
  # The archives' order is the link's: libmosquitto needs OpenSSL, which needs Windows'.
  target_link_libraries(varnok::mqtt INTERFACE
    ${VARNOK_MQTT_MINGW}/lib/libmosquitto_static.a ${VARNOK_MQTT_MINGW}/lib/libssl.a
    ${VARNOK_MQTT_MINGW}/lib/libcrypto.a ws2_32 crypt32 user32 advapi32)
  target_include_directories(varnok::mqtt INTERFACE ${VARNOK_MQTT_MINGW}/include)
  target_compile_definitions(varnok::mqtt INTERFACE LIBMOSQUITTO_STATIC)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(MOSQUITTO REQUIRED IMPORTED_TARGET libmosquitto)
add_library(varnok::mqtt INTERFACE IMPORTED)
target_link_libraries(varnok::mqtt INTERFACE PkgConfig::MOSQUITTO)
