# The Debian mirror this machine's apt already uses, for scripts that fetch source packages.
# Sourced, not run: `. scripts/debian-mirror.sh; debian_mirror` prints the mirror, or says on
# standard error why there is none and returns 1. VARNOK_DEBIAN_MIRROR, when set, is the
# answer. Otherwise the first `deb` (or `deb-src`) entry for the suite bookworm in
# ETC/sources.list, then in ETC/sources.list.d/*.list and *.sources (one-line and deb822 forms),
# in the order apt reads them; ETC is the first argument, /etc/apt by default.

# One-line entries: "deb [options] URI SUITE COMPONENT...". Prints the first URI for bookworm
# that apt-get source can fetch from (http, https, file).
_debian_mirror_list() {
  awk '
    { sub(/#.*/, "") }
    $1 != "deb" && $1 != "deb-src" { next }
    {
      line = $0
      sub(/^[ \t]*deb(-src)?[ \t]+/, "", line)
      if (substr(line, 1, 1) == "[") {
        if (index(line, "]") == 0) next
        line = substr(line, index(line, "]") + 1)
      }
      n = split(line, w, /[ \t]+/)
      first = 1
      while (first <= n && w[first] == "") first++
      if (first + 1 <= n && w[first + 1] == "bookworm" && w[first] ~ /^(https?:\/\/|file:\/)/) { print w[first]; exit }
    }' "$1"
}

# deb822 stanzas: Types, URIs and Suites (each a list), Enabled: no skips a stanza. Prints the
# first http, https or file URI of the first stanza with a deb type and the suite bookworm.
_debian_mirror_sources() {
  awk '
    function done_stanza() {
      if (enabled != "no" && types ~ /(^| )deb(-src)?( |$)/ && suites ~ /(^| )bookworm( |$)/ && uris != "") {
        n = split(uris, u, " ")
        for (i = 1; i <= n && !found; i++)
          if (u[i] ~ /^(https?:\/\/|file:\/)/) { print u[i]; found = 1 }
      }
      types = ""; uris = ""; suites = ""; enabled = ""; field = ""
    }
    BEGIN { found = 0 }
    found { exit }
    /^[ \t]*#/ { next }
    /^[ \t]*$/ { done_stanza(); next }
    /^[ \t]/ {
      # A continuation line adds to the field above.
      v = $0; gsub(/[ \t]+/, " ", v)
      if (field == "types") types = types v
      else if (field == "uris") uris = uris v
      else if (field == "suites") suites = suites v
      next
    }
    {
      name = tolower(substr($0, 1, index($0, ":") - 1))
      v = substr($0, index($0, ":") + 1); gsub(/[ \t]+/, " ", v); sub(/^ /, "", v); sub(/ $/, "", v)
      field = name
      if (name == "types") types = v
      else if (name == "uris") uris = v
      else if (name == "suites") suites = v
      else if (name == "enabled") enabled = tolower(v)
    }
    END { if (!found) done_stanza() }' "$1"
}

debian_mirror() {
  if [ -n "${VARNOK_DEBIAN_MIRROR:-}" ]; then
    printf '%s\n' "${VARNOK_DEBIAN_MIRROR%/}"
    return 0
  fi
  local etc=${1:-/etc/apt} f found=
  for f in "$etc/sources.list" "$etc"/sources.list.d/*; do
    [ -f "$f" ] && [ -r "$f" ] || continue
    case $f in
      */sources.list | *.list) found=$(_debian_mirror_list "$f") ;;
      *.sources) found=$(_debian_mirror_sources "$f") ;;
      *) continue ;;
    esac
    if [ -n "$found" ]; then
      printf '%s\n' "${found%/}"
      return 0
    fi
  done
  echo "no Debian mirror for bookworm in $etc/sources.list or $etc/sources.list.d (no deb line or URIs/Suites entry with bookworm over http, https or file); name one with VARNOK_DEBIAN_MIRROR=URL" >&2
  return 1
}
