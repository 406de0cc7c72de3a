#!/usr/bin/env bash
# Cross-builds, once, the Qt for Windows that the console's Windows build needs: Qt 6.4.2's
# qtbase (Core, Gui, Widgets, PrintSupport, the windows and offscreen platforms, the Windows
# style) and QCustomPlot, from Debian's own source packages, with Debian's MinGW-w64 and
# Debian's Qt 6.4.2 as the host tools. The result lands in a cache outside the checkout:
#   ${VARNOK_QT_MINGW:-~/.cache/varnok/qt-6.4.2-mingw}
# A second run finds it and returns at once. Prints the folder on its last line.
# The sources come through a source list of this script's own, so the system's apt
# sources are left as they are; its mirror is the one those sources name for bookworm
# (VARNOK_DEBIAN_MIRROR names another mirror).
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=${VARNOK_QT_MINGW:-$HOME/.cache/varnok/qt-6.4.2-mingw}
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

. scripts/debian-mirror.sh
mirror=$(debian_mirror) || exit 1
./scripts/deps.sh
work=$(dirname "$prefix")/qt-6.4.2-mingw.work
started=$(date +%s)

# The source packages, through a list of our own.
mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial"
echo "deb-src $mirror bookworm main" >"$work/apt/sources.list"
apt_own=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=-"
  -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache::Archives=$work/apt/archives"
  -o "APT::Sandbox::User=$(id -un)")
apt-get -q "${apt_own[@]}" update
source_of() { rm -rf "$work/src/$1"; mkdir -p "$work/src/$1"; (cd "$work/src/$1" && apt-get -q "${apt_own[@]}" source "$2"); }

# Qt itself, the long part (about an hour on two cores), kept when a later step fails.
if [ ! -f "$prefix/.qtbase" ]; then
  rm -rf "$prefix" "$work/qtbase-build"
  source_of qtbase qt6-base=6.4.2+dfsg-10
  # The compilers of the POSIX thread model, as the project's builds use; the runtime DLLs
  # are shipped beside the programs.
  cat >"$work/mingw.cmake" <<'EOF'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
  qtsrc=$(find "$work/src/qtbase" -maxdepth 1 -type d -name 'qt6-base-*' | head -1)
  mkdir -p "$work/qtbase-build"
  (cd "$work/qtbase-build" &&
    "$qtsrc/configure" -prefix "$prefix" -release -shared -xplatform win32-g++ -qt-host-path /usr \
      -nomake examples -nomake tests -no-opengl -no-dbus -no-icu \
      -no-feature-sql -no-feature-network -no-feature-concurrent -no-feature-xml \
      -no-feature-vulkan -no-feature-tabletevent \
      -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-harfbuzz -qt-freetype -qt-doubleconversion \
      -- -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
      -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake)
  cmake --build "$work/qtbase-build" --parallel
  cmake --install "$work/qtbase-build"
  echo "qtbase built in $(($(date +%s) - started)) s" >"$prefix/.qtbase"
fi

# QCustomPlot: its one source file as a DLL with the CMake package and target Debian's has
# (QCustomPlotQt6::QCustomPlotQt6); users of the DLL get QCUSTOMPLOT_USE_LIBRARY with it.
source_of qcp qcustomplot
qcpsrc=$(find "$work/src/qcp" -maxdepth 1 -type d -name 'qcustomplot-*' | head -1)
rm -rf "$work/qcp"
mkdir -p "$work/qcp"
cp "$qcpsrc/qcustomplot.cpp" "$qcpsrc/qcustomplot.h" "$work/qcp/"
cat >"$work/qcp/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.21)
project(QCustomPlotQt6 LANGUAGES CXX)
find_package(Qt6 REQUIRED COMPONENTS Widgets PrintSupport)
set(CMAKE_AUTOMOC ON)
add_library(QCustomPlotQt6 SHARED qcustomplot.cpp)
set_target_properties(QCustomPlotQt6 PROPERTIES PREFIX "")  # QCustomPlotQt6.dll, as Qt names its own
target_compile_definitions(QCustomPlotQt6 PRIVATE QCUSTOMPLOT_COMPILE_LIBRARY
  INTERFACE QCUSTOMPLOT_USE_LIBRARY)
target_link_libraries(QCustomPlotQt6 PUBLIC Qt6::Widgets Qt6::PrintSupport)
target_include_directories(QCustomPlotQt6 INTERFACE $<INSTALL_INTERFACE:include>)
install(TARGETS QCustomPlotQt6 EXPORT QCustomPlotQt6Targets
  RUNTIME DESTINATION bin LIBRARY DESTINATION lib ARCHIVE DESTINATION lib)
install(FILES qcustomplot.h DESTINATION include)
install(EXPORT QCustomPlotQt6Targets NAMESPACE QCustomPlotQt6:: DESTINATION lib/cmake/QCustomPlotQt6)
file(WRITE ${CMAKE_BINARY_DIR}/QCustomPlotQt6Config.cmake
  "include(CMakeFindDependencyMacro)\nfind_dependency(Qt6 COMPONENTS Widgets PrintSupport)\n"
  "include(\${CMAKE_CURRENT_LIST_DIR}/QCustomPlotQt6Targets.cmake)\n")
install(FILES ${CMAKE_BINARY_DIR}/QCustomPlotQt6Config.cmake DESTINATION lib/cmake/QCustomPlotQt6)
EOF
# Configured as the console is, with the project's toolchain and the Qt just built as a prefix.
cmake -S "$work/qcp" -B "$work/qcp/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix"
cmake --build "$work/qcp/build"
cmake --install "$work/qcp/build"

for part in bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll bin/Qt6PrintSupport.dll \
  plugins/platforms/qwindows.dll plugins/platforms/qoffscreen.dll plugins/styles/qwindowsvistastyle.dll \
  bin/QCustomPlotQt6.dll lib/cmake/QCustomPlotQt6/QCustomPlotQt6Config.cmake; do
  [ -f "$prefix/$part" ] || { echo "the Windows Qt build has no $part" >&2; exit 1; }
done
rm -rf "$work"
{ cat "$prefix/.qtbase"; echo "QCustomPlot built in $(($(date +%s) - started)) s"; } >"$prefix/.complete"
cat "$prefix/.complete" >&2
echo "$prefix"
