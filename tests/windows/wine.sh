# Sourced by the Windows test scripts: waiting for a file, and Wine's COM ports mapped to
# paths (pseudo-terminals where the simulator or a relay answers).

wait_for() {  # PATH [SECONDS]: waits for it to appear, 10 s unless told
  for _ in $(seq $((${2:-10} * 20))); do [ -e "$1" ] && return 0; sleep 0.05; done
  echo "$1 did not appear" >&2; return 1
}

map_ports() {  # COMn=PATH...: Wine reads its port map when its server starts
  for m in "$@"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "${m%%=*}" /d "${m#*=}" /f >/dev/null
  done
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  # Started here, so that its dump of objects when it is stopped goes nowhere.
  wineserver >/dev/null 2>&1
}

windows_fonts() {  # the dialog fonts a Windows machine has, as DejaVu Sans: Wine here has none
  for f in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "Segoe UI" "MS Sans Serif"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /d "DejaVu Sans" /f >/dev/null
  done
}
