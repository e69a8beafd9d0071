#!/usr/bin/env bash
# Runs a command with a usable X display: the current one when DISPLAY works,
# otherwise a private Xvfb (KELVARN_XVFB_SCREEN, 1920x1080x24 by default)
# that is killed afterwards whatever happens; the command then finds its
# name in KELVARN_VIRTUAL_DISPLAY too. Exits with the command's exit code.
set -uo pipefail

if (($# == 0)); then
  echo "usage: with-display.sh COMMAND [ARGS...]" >&2
  exit 2
fi
if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
  exec "$@"
fi

xvfb_pid=
log=$(mktemp)
cleanup() {
  if [[ -n $xvfb_pid ]]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -f "$log"
}
trap cleanup EXIT
# Before the command runs a signal just ends the script (cleaning up); once it
# runs, the signal is passed on and the script waits for the command to end.
trap 'exit 130' INT
trap 'exit 143' TERM

# -noreset: the server must not reset when its last client disconnects, which
# would recentre the pointer and drop keymap changes between test clients.
start_server() {
  local number=$1 owner
  Xvfb ":$number" -screen 0 "${KELVARN_XVFB_SCREEN:-1920x1080x24}" -noreset -nolisten tcp >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    # The lock file names the server that owns the number: a server started at
    # the same moment by someone else may answer on it while ours gives up.
    if xdpyinfo -display ":$number" >/dev/null 2>&1; then
      owner=$(tr -d ' \n' <"/tmp/.X$number-lock" 2>/dev/null)
      [[ $owner == "$xvfb_pid" ]] && return 0
      break
    fi
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=
  return 1
}

display=
for number in $(seq 99 199); do
  # Another process may take the same number between this check and Xvfb's
  # start; Xvfb then exits and the next number is tried.
  [[ -e /tmp/.X$number-lock || -e /tmp/.X11-unix/X$number ]] && continue
  if start_server "$number"; then
    display=:$number
    break
  fi
done
if [[ -z $display ]]; then
  echo "with-display: could not start Xvfb" >&2
  cat "$log" >&2
  exit 1
fi

# In the background so signals reach this script at once; stdin stays the
# caller's rather than the /dev/null a background job would get.
DISPLAY=$display KELVARN_VIRTUAL_DISPLAY=$display "$@" <&0 &
child=$!
trap 'kill -TERM "$child" 2>/dev/null' INT TERM
while kill -0 "$child" 2>/dev/null; do
  wait "$child"
done
wait "$child"
exit $?
