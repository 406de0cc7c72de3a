#!/usr/bin/env bash
# The mirror the Windows Qt build fetches its sources from: taken from sample apt sources in a
# folder of the test's own, never from a name written into the project.
set -u
here=$(cd "$(dirname "$0")/../.." && pwd)
. "$here/scripts/debian-mirror.sh"
unset VARNOK_DEBIAN_MIRROR
tmp=$(mktemp -d "${TMPDIR:-/tmp}/debian-mirror.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
failures=0
expect() {  # NAME EXPECTED: debian_mirror on $tmp/NAME prints EXPECTED (empty: fails)
  local got rc
  got=$(debian_mirror "$tmp/$1" 2>"$tmp/err"); rc=$?
  if [ -n "$2" ] && { [ $rc -ne 0 ] || [ "$got" != "$2" ]; }; then
    echo "FAIL $1: got '$got' (rc $rc), expected '$2'"; failures=$((failures + 1))
  elif [ -z "$2" ] && { [ $rc -eq 0 ] || ! grep -q VARNOK_DEBIAN_MIRROR "$tmp/err"; }; then
    echo "FAIL $1: got '$got' (rc $rc), expected a failure naming VARNOK_DEBIAN_MIRROR"; failures=$((failures + 1))
  fi
}

# One-line form: comments, other suites and options in brackets are passed over.
mkdir -p "$tmp/list/sources.list.d"
cat >"$tmp/list/sources.list" <<'L'
# deb http://commented.example/debian bookworm main
deb http://security.example/debian-security bookworm-security main
deb cdrom:[Debian 12]/ bookworm main
deb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] http://one.example/debian/ bookworm main contrib
deb http://two.example/debian bookworm main
L
expect list http://one.example/debian

# deb822 form, with a disabled stanza, a stanza of other suites and a continued URIs field.
mkdir -p "$tmp/deb822/sources.list.d"
cat >"$tmp/deb822/sources.list.d/debian.sources" <<'L'
Types: deb
URIs: http://off.example/debian
Suites: bookworm
Enabled: no

Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security

types: deb-src deb
uris:
 https://three.example/debian
 http://four.example/debian
suites: bookworm bookworm-updates
components: main
L
echo 'deb http://later.example/debian bookworm main' >"$tmp/deb822/sources.list.d/zz.list"
echo 'deb http://ignored.example/debian bookworm main' >"$tmp/deb822/sources.list.d/aa.list.disabled"
expect deb822 https://three.example/debian

# sources.list comes before sources.list.d; within it, the files by name.
mkdir -p "$tmp/order/sources.list.d"
echo 'deb http://main.example/debian bookworm main' >"$tmp/order/sources.list"
echo 'deb http://part.example/debian bookworm main' >"$tmp/order/sources.list.d/a.list"
expect order http://main.example/debian
rm "$tmp/order/sources.list"
expect order http://part.example/debian

# Nothing for bookworm: a failure that says how to name one.
mkdir -p "$tmp/none/sources.list.d"
echo 'deb http://old.example/debian bullseye main' >"$tmp/none/sources.list"
expect none ""
expect missing ""

# The variable names another mirror whatever the sources say.
got=$(VARNOK_DEBIAN_MIRROR=http://own.example/debian/ debian_mirror "$tmp/none")
[ "$got" = http://own.example/debian ] || { echo "FAIL override: got '$got'"; failures=$((failures + 1)); }

# The build script takes its mirror from here and writes no host of its own.
if grep -nE 'https?://[a-z0-9.-]+\.[a-z]+' "$here/scripts/build-qt-mingw.sh"; then
  echo "FAIL build-qt-mingw.sh names a host"; failures=$((failures + 1))
fi
[ $failures -eq 0 ] && echo "all passed"
exit $((failures != 0))
