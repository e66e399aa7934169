#!/usr/bin/env bash
# Runs a Windows test program under wine inside a 155x42 tmux pane, so that it has a console as a
# player's game would, and passes on its output and its exit status.
#
#   tests/windows/in-console.sh build/windows-test/tests/windows_backend_test.exe [arguments]
#
# WINEPREFIX, WINEDEBUG and WINEDLLOVERRIDES are passed on as they are set; TIMEOUT (seconds,
# 240 unless set) ends a program that hangs.
set -euo pipefail

exe=$1
shift
work=$(mktemp -d /tmp/vorlix-console.XXXXXX)
socket="vorlix-console-$$"
tmux_() { tmux -L "$socket" -f /dev/null "$@"; }
finish() {
  tmux_ kill-server 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# The pane's own script: the program reads the pane's terminal, its output goes to a file.
{
  printf '%q ' wine "$exe" "$@"
  printf '>%q 2>&1 </dev/tty &\n' "$work/output"
  printf 'echo $! >%q\n' "$work/pid"
  printf 'wait $!\n'
  printf 'echo $? >%q\n' "$work/status"
} >"$work/run"

tmux_ new-session -d -s test -x 155 -y 42 \
  "env WINEPREFIX='${WINEPREFIX:-}' WINEDEBUG='${WINEDEBUG:--all}' \
WINEDLLOVERRIDES='${WINEDLLOVERRIDES:-}' bash '$work/run'"

deadline=$((SECONDS + ${TIMEOUT:-240}))
until [[ -s "$work/status" ]]; do
  if ((SECONDS >= deadline)); then
    echo "in-console: $exe did not finish within ${TIMEOUT:-240}s" >&2
    [[ -s "$work/pid" ]] && kill "$(cat "$work/pid")" 2>/dev/null
    cat "$work/output" 2>/dev/null || true
    exit 1
  fi
  sleep 0.2
done
cat "$work/output"
exit "$(cat "$work/status")"
