#!/usr/bin/env bash
# The suite's last word on adb servers.
#   before FILE: notes whether anything listens on adb's default port.
#   after FILE BUILD_DIR: ends every adb process a test of this build left
#     (their environment carries the test processes' mark) and fails when
#     there was one, or when adb's default port is listened on now and
#     wasn't before.
set -u
mode=$1 note=$2

listening_5037() { (exec 3<>/dev/tcp/127.0.0.1/5037) 2>/dev/null; }

if [ "$mode" = before ]; then
  mkdir -p "$(dirname "$note")"
  if listening_5037; then echo yes >"$note"; else echo no >"$note"; fi
  exit 0
fi

build=$3
status=0
for dir in /proc/[0-9]*; do
  pid=${dir#/proc/}
  [ "$pid" = $$ ] && continue
  exe=$({ tr '\0' '\n' <"$dir/cmdline"; } 2>/dev/null | head -n 1)
  [ "${exe##*/}" = adb ] || continue
  mark=$({ tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -m1 "^VANTELORQUIST_TEST_PROCESS=") || continue
  case "$mark" in "VANTELORQUIST_TEST_PROCESS=$build|"*) ;; *) continue ;; esac
  # Still in use by a test that runs (another run on this build, say).
  owner=${mark#*|}
  owner_pid=${owner%% *}
  owner_exe=${owner#* }
  owner_exe=${owner_exe%% *}
  running=$({ tr '\0' '\n' <"/proc/$owner_pid/cmdline"; } 2>/dev/null | head -n 1)
  [ -n "$running" ] && [ "$running" = "$owner_exe" ] && continue
  echo "left running: $({ tr '\0' ' ' <"$dir/cmdline"; } 2>/dev/null) (started by $owner)"
  kill -KILL "$pid" 2>/dev/null
  status=1
done
before=$(cat "$note" 2>/dev/null || echo unknown)
if [ "$before" = no ] && listening_5037; then
  echo "something started listening on adb's default port 5037 during the suite"
  status=1
fi
exit $status
