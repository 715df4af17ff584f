#!/usr/bin/env bash
# with_display.sh [--null] [--dpi N] -- COMMAND ARGS...
# Runs COMMAND against a Wine prefix of its own in which windows can be
# created: a clone of the test prefix (one per kind and DPI, kept between
# runs) whose wineserver is started here and stopped afterwards.
#   default  a virtual X display (Xvfb) started first, so that Wine's
#            desktop comes up on it; exports DISPLAY and QV_TEST_DISPLAY
#   --null   Wine's null display driver: windows, messages and drawing
#            into memory work, nothing is shown, no X server is needed
#   --dpi N  the system DPI of the prefix (96 unless given)
# Exports QV_WINEPREFIX for build/wine-run.sh. Returns COMMAND's status.
# Environment read: QV_WINE_DIR (the build's wine folder with prefix/).
# Only the Xvfb and the wineserver started here are ended, by their ids.
set -uo pipefail

die() { echo "with_display.sh: $*" >&2; exit 1; }

null=0 dpi=96
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  case $1 in
    --null) null=1 ;;
    --dpi) shift; dpi=$1 ;;
    *) die "unknown option $1" ;;
  esac
  shift
done
[ "${1:-}" = "--" ] && [ $# -ge 2 ] || die "usage: with_display.sh [--null] [--dpi N] -- COMMAND ARGS..."
shift

wine_dir=${QV_WINE_DIR:-}
[ -n "$wine_dir" ] && [ -f "$wine_dir/prefix/.ready" ] || die "QV_WINE_DIR must name a folder with a ready prefix/"
wine_dir=$(cd "$wine_dir" && pwd)
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
kind=x11
[ "$null" = 1 ] && kind=null
clone=$wine_dir/prefix-window-$kind-$dpi

quiet() { "$@" </dev/null >/dev/null 2>&1; }

make_clone() {
  rm -rf "$clone"
  # Hard links are cheap; the .reg files must be real copies because
  # wineserver rewrites them in place.
  cp -al "$wine_dir/prefix" "$clone" || return 1
  rm -f "$clone"/*.reg "$clone/.ready" "$clone"/.qv-test-ca-*
  cp -p "$wine_dir/prefix"/*.reg "$clone/" || return 1
  local reg=(env WINEPREFIX="$clone" wine reg add)
  if [ "$null" = 1 ]; then
    quiet "${reg[@]}" 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  fi
  quiet "${reg[@]}" 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f
  quiet "${reg[@]}" 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
    /v LogPixels /t REG_DWORD /d "$dpi" /f
  # Every family name the window asks for resolves to a font that exists.
  local face
  for face in 'Segoe UI' 'Segoe UI Semibold' 'Segoe UI Variable Text' \
              'Segoe UI Variable Text Semibold' 'Segoe UI Variable Display Semib'; do
    quiet "${reg[@]}" 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'Liberation Sans' /f
  done
  # The UI fonts of the other scripts (Windows names, Debian's Noto fonts).
  local pair
  for pair in 'Yu Gothic UI=Noto Sans CJK JP' 'Yu Gothic UI Semibold=Noto Sans CJK JP' \
              'Malgun Gothic=Noto Sans CJK KR' 'Microsoft YaHei UI=Noto Sans CJK SC' \
              'Microsoft JhengHei UI=Noto Sans CJK TC' 'Leelawadee UI=Noto Sans Thai UI'; do
    quiet "${reg[@]}" 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%=*}" /d "${pair#*=}" /f
  done
  quiet "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  mkdir -p "$clone/drive_c/windows/Fonts"
  cp -f /usr/share/fonts/truetype/liberation/LiberationSans-*.ttf "$clone/drive_c/windows/Fonts/" ||
    return 1
  local font
  for font in /usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc \
              /usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc \
              /usr/share/fonts/truetype/noto/NotoSansThaiUI-*.ttf \
              /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf \
              /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf; do
    [ -f "$font" ] && ln -sf "$font" "$clone/drive_c/windows/Fonts/"
  done
  quiet env WINEPREFIX="$clone" wineserver -k
  quiet env WINEPREFIX="$clone" wineserver -w
  echo "$clone_version" >"$clone/.ready"
}

# Bumped whenever make_clone changes, so that older clones are made anew.
clone_version=4
if [ "$(cat "$clone/.ready" 2>/dev/null)" != "$clone_version" ] ||
   [ "$wine_dir/prefix/.ready" -nt "$clone/.ready" ]; then
  make_clone || die "could not make the prefix $clone"
fi

display_work=$(mktemp -d "${TMPDIR:-/tmp}/qv-display.XXXXXX") || die "no temporary folder"
xvfb_pid=""
stop_all() {
  quiet env WINEPREFIX="$clone" wineserver -k
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$display_work"
}
trap stop_all EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

if [ "$null" = 1 ]; then
  unset DISPLAY QV_TEST_DISPLAY
else
  # Xvfb writes the display number it chose to fd 3 once it is ready.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_work/display" \
    </dev/null >"$display_work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$display_work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start: $(cat "$display_work/xvfb.log")"
    sleep 0.1
  done
  [ -s "$display_work/display" ] || die "Xvfb did not report a display within 10 s"
  export DISPLAY=":$(tr -d '[:space:]' <"$display_work/display")"
  export QV_TEST_DISPLAY=$DISPLAY
fi

# The server first, with the display already set, and with every stream
# redirected so that no caller's pipe is held open.
export QV_WINEPREFIX=$clone
quiet env WINEPREFIX="$clone" wineserver -k
quiet env WINEPREFIX="$clone" wineserver -p
quiet env WINEPREFIX="$clone" wine cmd /c exit

"$@"
exit $?
