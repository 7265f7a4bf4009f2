#!/usr/bin/env bash
# Tries the application without a phone: starts the pretend phone of the tests
# with some sample folders and files, a private adb server (own port, own
# home folder) connected to it, and the application using that adb through
# ANDROID_HOME, with settings of its own. Everything it starts or writes is
# gone when the application quits or the script is stopped.
#
# The pretend phone also mirrors its screen: a test card (colour bars, a
# moving square, the picture's number, a white border). The application
# finds a stand-in for the mirroring server in the build folder while the
# script runs. To end the running mirroring as a phone would, write
#   {"mirror": {"endGeneration": N}}
# with a new N to the knobs file that the script names when it starts.
#
#   scripts/try-without-phone.sh [application arguments...]
#
# VANTELORQUIST_BUILD names a build folder to take the programs from as they
# are; without it the script sets up and builds ./build first, as run.sh does.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${VANTELORQUIST_BUILD:-}" ]; then
  # As scripts/run.sh: what is needed installed, the two programs up to date.
  bash "$root/scripts/setup.sh"
  bash "$root/scripts/build.sh" --target fakeadbphone vantelorquist
fi
build=${VANTELORQUIST_BUILD:-$root/build}
phone_program=$build/tests/fakes/adbphone/fakeadbphone
app_program=$build/src/app/vantelorquist
adb_program=$(command -v adb || true)

if [ -z "$adb_program" ]; then
  echo "try-without-phone: adb is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
for program in "$phone_program" "$app_program"; do
  if [ ! -x "$program" ]; then
    echo "try-without-phone: $program is not built" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vantelorquist-try-XXXXXX")
phone_pid=""
app_pid=""
server_started=""
stand_in=""

cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [ -n "$server_started" ]; then
    timeout 10 "$adb_program" kill-server >/dev/null 2>&1 || true
  fi
  if [ -n "$phone_pid" ] && kill -0 "$phone_pid" 2>/dev/null; then
    kill "$phone_pid" 2>/dev/null || true
    wait "$phone_pid" 2>/dev/null || true
  fi
  if [ -n "$stand_in" ]; then
    rm -f "$stand_in"
    rmdir -p "$(dirname "$stand_in")" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# ---- the phone's storage, seen as /sdcard ---------------------------------------
storage=$work/storage
sample() { # path, size in bytes, date; sparse, so large ones cost nothing
  mkdir -p "$(dirname "$storage/$1")"
  truncate -s "$2" "$storage/$1"
  touch -d "$3" "$storage/$1"
}
mkdir -p "$storage"/{Alarms,Android/data,Audiobooks,DCIM/Camera,Documents,Download,Movies,Music,Notifications}
mkdir -p "$storage"/{Pictures/Screenshots,Podcasts,Recordings,Ringtones}
sample DCIM/Camera/PXL_20240612_081512.jpg 3412345 "2024-06-12 08:15"
sample DCIM/Camera/PXL_20240612_081530.jpg 2987654 "2024-06-12 08:15"
sample DCIM/Camera/PXL_20240703_190244.mp4 48123456 "2024-07-03 19:02"
sample Pictures/Screenshots/Screenshot_20240801-101010.png 812345 "2024-08-01 10:10"
sample Pictures/wallpaper.webp 412345 "2024-02-14 21:40"
sample Download/boarding-pass.pdf 184321 "2024-09-20 06:45"
sample Download/app-release.apk 12876543 "2024-09-02 17:20"
sample Download/photos.zip 23456789 "2024-05-30 12:00"
sample Documents/notes.txt 2345 "2024-10-01 09:30"
sample Documents/budget.xlsx 45678 "2024-03-11 14:05"
sample Music/song.mp3 5234567 "2023-12-24 18:00"
sample Movies/holiday.mkv 734003200 "2024-08-15 20:30"
sample Recordings/meeting.m4a 3456789 "2024-09-18 11:00"
sample Android/data/.nomedia 0 "2024-01-01 00:00"
sample .thumbnails 0 "2024-01-01 00:00"
sample readme.txt 1234 "2024-10-05 16:45"
touch -d "2024-09-20 06:45" "$storage/Download"
touch -d "2024-10-01 09:30" "$storage/Documents"

# ---- the phone -------------------------------------------------------------------
mkdir -p "$work/control"
"$phone_program" --storage "$storage" --control "$work/control" --port 0 \
  --product sdk_phone --model Pixel_7 --device panther --parent-pid $$ --mirror-test-card > "$work/phone.port" 2> "$work/phone.log" &
phone_pid=$!
phone_port=""
for _ in $(seq 1 100); do
  phone_port=$(head -n 1 "$work/phone.port" 2>/dev/null || true)
  [ -n "$phone_port" ] && break
  if ! kill -0 "$phone_pid" 2>/dev/null; then
    echo "try-without-phone: the pretend phone didn't start:" >&2
    cat "$work/phone.log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$phone_port" ]; then
  echo "try-without-phone: the pretend phone gave no port" >&2
  exit 1
fi
serial=127.0.0.1:$phone_port

# ---- a private adb server ---------------------------------------------------------
free_port() { # a port nothing on this machine answers on
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 12000)) # below the ports outgoing connections take
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}
export HOME=$work/home
export XDG_CONFIG_HOME=$work/config
mkdir -p "$HOME" "$XDG_CONFIG_HOME"
ANDROID_ADB_SERVER_PORT=$(free_port)
export ANDROID_ADB_SERVER_PORT
server_started=yes
timeout 20 "$adb_program" start-server >/dev/null 2>&1
timeout 20 "$adb_program" connect "$serial" >/dev/null
state=""
for _ in $(seq 1 100); do
  state=$(timeout 5 "$adb_program" -s "$serial" get-state 2>/dev/null || true)
  [ "$state" = device ] && break
  sleep 0.1
done
if [ "$state" != device ]; then
  echo "try-without-phone: adb doesn't see the pretend phone as ready (${state:-not listed})" >&2
  exit 1
fi

# ---- the application, using that adb ----------------------------------------------
# The mirroring server is looked for beside the program (../share/...); the
# pretend phone takes any file as one. An existing file is left as it is.
server_file=$(realpath -m "$(dirname "$app_program")/../share/vantelorquist/scrcpy-server")
if [ ! -e "$server_file" ]; then
  mkdir -p "$(dirname "$server_file")"
  stand_in=$server_file
  echo "stand-in mirroring server for try-without-phone.sh" > "$stand_in"
fi
mkdir -p "$work/sdk/platform-tools"
ln -s "$adb_program" "$work/sdk/platform-tools/adb"
export ANDROID_HOME=$work/sdk
echo "try-without-phone: phone $serial on adb server port $ANDROID_ADB_SERVER_PORT; storage in $storage;" \
  "knobs in $work/control/knobs.json"
"$app_program" "$@" &
app_pid=$!
status=0
wait "$app_pid" || status=$?
app_pid=""
exit "$status"
