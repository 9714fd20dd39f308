#!/usr/bin/env bash
# Sets up the machine, builds the client and starts it on its built-in demo
# front-end (web/), served on loopback together with a statistics endpoint
# that prints every launch report. Without a display, a private Xvfb is used.
# Voice chat: unless QM_VOICE_HOST names a voice server, a local one runs on
# loopback with a demo participant speaking in room 1001; without a sound
# server, a private one with a virtual microphone and loudspeaker is started.
#   QM_WEB_PORT / QM_STATS_PORT  ports of the demo servers (8000 / 8888)
#   QM_VOICE_HOST / QM_VOICE_FINGERPRINT  a voice server to use instead
#   QM_VOICE_PORT  port of the local voice server (64738)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
web_port=${QM_WEB_PORT:-8000}
stats_port=${QM_STATS_PORT:-8888}

./scripts/setup.sh
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$root/build" -j "$(nproc)" --target client

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1440x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=:77
  sleep 1
  echo "run: no display found; the client runs on the private display :77"
fi

"$root/build/tools/qm_devserver" "$root/web" "$web_port" "$stats_port" &
pids+=($!)
sleep 0.5

# The demo's own deployment file: statistics go to the local endpoint.
deploy="$root/build/run/deploy.ini"
mkdir -p "$(dirname "$deploy")"
printf '[frontend]\ndefault=127.0.0.1:%s\n[statistics]\nhost=127.0.0.1:%s\n' "$web_port" "$stats_port" > "$deploy"

# Servers run as nobody when this script runs as root (murmurd refuses root).
as_server=()
[ "$(id -u)" -eq 0 ] && as_server=(setpriv --reuid=65534 --regid=65534 --clear-groups)

voice_host=${QM_VOICE_HOST:-}
voice_fp=${QM_VOICE_FINGERPRINT:-}
if [ -z "$voice_host" ]; then
  vdir="$root/build/run/voice"
  voice_port=${QM_VOICE_PORT:-64738}
  mkdir -p "$vdir/bot"
  printf 'database=%s/murmur.sqlite\nhost=127.0.0.1\nport=%s\nbonjour=false\nice=\ndbus=\nusers=100\nbandwidth=72000\nkdfiterations=1000\nlogdays=-1\n' \
    "$vdir" "$voice_port" > "$vdir/murmur.ini"
  [ "$(id -u)" -eq 0 ] && chown -R 65534:65534 "$vdir"
  supw=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  "${as_server[@]}" env HOME="$vdir" murmurd -ini "$vdir/murmur.ini" -supw "$supw" >/dev/null 2>&1 || true
  "${as_server[@]}" env HOME="$vdir" murmurd -fg -ini "$vdir/murmur.ini" > "$vdir/murmur.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 100); do
    voice_fp=$("$root/build/tools/qm_voiceadmin" fingerprint "127.0.0.1:$voice_port" 2>/dev/null) && break
    sleep 0.1
  done
  if [ -n "$voice_fp" ]; then
    voice_host="127.0.0.1:$voice_port"
    echo "$supw" | "$root/build/tools/qm_voiceadmin" grant-temporary-channels "$voice_host" "$voice_fp"
    # The demo participant: a phrase now and then in the demo page's room.
    espeak-ng -w "$vdir/phrase.wav" "Hello from the demo room. Welcome to voice chat." &&
      ffmpeg -loglevel error -y -i "$vdir/phrase.wav" -ar 48000 -ac 1 -f s16le "$vdir/phrase.raw" &&
      { "$root/build/tools/qm_voicebot" "$voice_host" "$voice_fp" 1001 demo-voice "$vdir/phrase.raw" "$vdir/bot" 8 \
          > "$vdir/bot.log" 2>&1 & pids+=($!); }
    echo "run: voice server on $voice_host (log: $vdir/murmur.log), demo participant in room 1001"
  else
    echo "run: the local voice server did not start (see $vdir/murmur.log); voice chat is off"
  fi
fi
[ -n "$voice_host" ] && printf '[voice]\nhost=%s\nfingerprint=%s\n' "$voice_host" "$voice_fp" >> "$deploy"

# Without a sound server (no sound hardware, no desktop session) a private one
# gives the client a virtual microphone and loudspeaker.
if ! pactl info >/dev/null 2>&1; then
  pdir="$root/build/run/pulse"
  mkdir -p "$pdir/run"
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s/run/native\nload-module module-null-sink sink_name=spk sink_properties=device.description=VirtualSpeaker\nload-module module-null-sink sink_name=micfeed channels=1 sink_properties=device.description=MicFeed\nload-module module-remap-source master=micfeed.monitor source_name=mic source_properties=device.description=VirtualMic\nset-default-sink spk\nset-default-source mic\n' \
    "$pdir" > "$pdir/demo.pa"
  env HOME="$pdir" XDG_RUNTIME_DIR="$pdir/run" pulseaudio -n -F "$pdir/demo.pa" --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no > "$pdir/pulse.log" 2>&1 &
  pids+=($!)
  export PULSE_SERVER="unix:$pdir/run/native"
  echo "run: no sound server found; a private one with virtual devices runs at $PULSE_SERVER"
fi

echo "run: starting the client (close it from its tray menu or with Ctrl+C)"
QM_DEPLOY_FILE="$deploy" "$root/build/bin/qm_main" "*url:\"http://127.0.0.1:${web_port}/\""
