# Sourced: windows_env BUILD STACK exports what a Windows program of BUILD
# needs under Wine: the build's own Wine prefix, the stack's DLLs on Wine's
# PATH (its plugins beside them), and none of the Linux GStreamer's settings.
windows_env() {
  local build=$1 stack=$2 variable
  export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEARCH=win64
  for variable in $(compgen -e | grep '^GST_' || true); do unset "$variable"; done
  export WINEPATH="Z:${stack//\//\\}\\bin"
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "creating the Wine prefix $WINEPREFIX" >&2
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}
