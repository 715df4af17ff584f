#!/usr/bin/env bash
# prefix.sh start|stop WINE_DIR
# start: makes the test prefixes under WINE_DIR when missing (a Windows 10
# one and a Windows 7 clone for the OS gate) and starts their wineservers
# with every stream redirected, so that ctest's pipes are not held open.
# stop: ends the wineservers of those prefixes.
set -euo pipefail
action=$1 dir=$2
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY

prepare_prefix() {
  local prefix=$1
  WINEPREFIX=$prefix wineboot -i </dev/null >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w </dev/null >/dev/null 2>&1 || true
  # The fresh prefix links the user's folders to the Linux home; tests must
  # never write there, so they become real, empty folders.
  local user
  for user in "$prefix"/drive_c/users/*/; do
    for name in Desktop Documents Downloads Music Pictures Videos \
                AppData/Roaming/Microsoft/Windows/Templates; do
      if [ -L "$user$name" ]; then rm -f "$user$name"; mkdir -p "$user$name"; fi
    done
  done
  local reg=(wine reg add)
  WINEPREFIX=$prefix "${reg[@]}" 'HKCU\Software\Wine' /v Version /d win10 /f
  WINEPREFIX=$prefix "${reg[@]}" 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  WINEPREFIX=$prefix "${reg[@]}" 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  mkdir -p "$prefix/drive_c/windows/Fonts"
  cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  for face in 'Segoe UI' 'Segoe UI Semibold' 'Segoe UI Variable'; do
    WINEPREFIX=$prefix "${reg[@]}" 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" /d 'Liberation Sans' /f
  done
  WINEPREFIX=$prefix wineserver -w </dev/null >/dev/null 2>&1 || true
}

start_server() {
  # A server that is already running (an earlier run not stopped) is fine.
  WINEPREFIX=$1 wineserver -p </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$1 wine cmd /c exit </dev/null >/dev/null 2>&1
}

case $action in
  start)
    mkdir -p "$dir"
    if [ ! -f "$dir/prefix/.ready" ]; then
      rm -rf "$dir/prefix" "$dir/prefix-win7"
      prepare_prefix "$dir/prefix" >/dev/null 2>&1 </dev/null
      touch "$dir/prefix/.ready"
    fi
    if [ ! -f "$dir/prefix-win7/.ready" ]; then
      rm -rf "$dir/prefix-win7"
      # A cheap clone; the .reg files must be real copies because
      # wineserver rewrites them in place.
      cp -al "$dir/prefix" "$dir/prefix-win7"
      rm "$dir/prefix-win7"/*.reg
      cp -p "$dir/prefix"/*.reg "$dir/prefix-win7/"
      rm -f "$dir/prefix-win7/.ready"
      WINEPREFIX="$dir/prefix-win7" wine reg add 'HKCU\Software\Wine' /v Version /d win7 /f </dev/null >/dev/null 2>&1
      WINEPREFIX="$dir/prefix-win7" wineserver -w </dev/null >/dev/null 2>&1 || true
      touch "$dir/prefix-win7/.ready"
    fi
    start_server "$dir/prefix"
    start_server "$dir/prefix-win7"
    ;;
  stop)
    for p in "$dir/prefix" "$dir/prefix-win7"; do
      [ -d "$p" ] && WINEPREFIX=$p wineserver -k </dev/null >/dev/null 2>&1 || true
    done
    ;;
esac
