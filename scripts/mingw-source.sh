# shellcheck shell=bash
# The frame the scripts/build-*-mingw.sh share: a cache folder with a .complete marker, a work
# folder beside it, and Debian source packages fetched through a source list of their own (the
# system's apt sources are left as they are; the mirror is the one they name for bookworm, or
# VARNOK_DEBIAN_MIRROR). Sourced, not run:
#   mingw_cache_done PREFIX   true (and prints PREFIX) when PREFIX/.complete is there
#   mingw_cache_begin PREFIX  sets mirror, work (PREFIX.work), started, apt_own; clears both
#                             folders unless keep=1 is set; runs apt-get update on its own list
#   mingw_fetch NAME PKG[=VER] [--download-only]
#                             apt-get source into $work/src/NAME (a fresh folder)
#   mingw_cache_finish TEXT   removes the work folder, writes TEXT and the time to .complete
# shellcheck source=scripts/debian-mirror.sh
. "$(dirname "${BASH_SOURCE[0]}")/debian-mirror.sh"

mingw_cache_done() {
  [ -f "$1/.complete" ] || return 1
  echo "$1"
}

mingw_cache_begin() {
  prefix=$1
  mirror=$(debian_mirror) || exit 1
  "$(dirname "${BASH_SOURCE[0]}")/deps.sh"
  work=$prefix.work
  started=$(date +%s)
  [ "${keep:-0}" = 1 ] || rm -rf "$work" "$prefix"
  mkdir -p "$work/apt/lists/partial" "$work/apt/archives/partial" "$work/src"
  echo "deb-src $mirror bookworm main" >"$work/apt/sources.list"
  apt_own=(-o "Dir::Etc::SourceList=$work/apt/sources.list" -o "Dir::Etc::SourceParts=-"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache::Archives=$work/apt/archives"
    -o "APT::Sandbox::User=$(id -un)")
  apt-get -q "${apt_own[@]}" update
}

mingw_fetch() {
  local name=$1 pkg=$2
  shift 2
  rm -rf "${work:?}/src/$name"
  mkdir -p "$work/src/$name"
  (cd "$work/src/$name" && apt-get -q "${apt_own[@]}" source "$@" "$pkg")
}

mingw_cache_finish() {
  rm -rf "${work:?}"
  echo "$1 in $(($(date +%s) - started)) s" >>"$prefix/.complete"
  echo "$prefix"
}
