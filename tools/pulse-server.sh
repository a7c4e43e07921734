#!/usr/bin/env bash
# A private PulseAudio server with one null sink and no sound hardware, for
# running Kestrine against Wine's own Core Audio with a device present. Its
# runtime files stay in DIR; it is stopped by its own process id.
#
#   pulse-server.sh up DIR                   start it, with the sink muted
#   pulse-server.sh down DIR                 stop it
#   pulse-server.sh keeps-mute DIR -- CMD... run CMD against it, and fail if
#                                            the sink's mute state changed
set -euo pipefail

readonly SINK=kestrine_null
command=$1
dir=$(realpath -m "$2")
shift 2
export PULSE_SERVER="unix:$dir/native"

# Runs a PulseAudio program so that nothing of the user's own PulseAudio
# set-up is read or touched; env execs it, so a background one's $! is its own.
pulse=(env HOME="$dir" PULSE_RUNTIME_PATH="$dir/runtime"
  PULSE_STATE_PATH="$dir/state" XDG_RUNTIME_DIR="$dir/runtime"
  XDG_CONFIG_HOME="$dir/config")

# The server's process id, if the one recorded is still a PulseAudio server.
running_pid() {
  local pid
  pid=$(cat "$dir/pid" 2>/dev/null) || return 1
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = pulseaudio ] && echo "$pid"
}

stop() {
  local pid
  pid=$(running_pid) || { rm -f "$dir/pid"; return 0; }
  kill "$pid"
  for _ in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$dir/pid"
}

mute_state() { "${pulse[@]}" pactl get-sink-mute "$SINK"; }

case $command in
  up)
    stop
    mkdir -p "$dir/runtime" "$dir/state" "$dir/config"
    chmod 700 "$dir/runtime"
    rm -f "$dir/native"
    # -n: no default script, so no module looks for real sound hardware.
    "${pulse[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
      --realtime=no --high-priority=no --log-target=stderr \
      -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
      -L "module-null-sink sink_name=$SINK" \
      </dev/null >"$dir/pulseaudio.log" 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 1 100); do
      "${pulse[@]}" pactl info >/dev/null 2>&1 && break
      if ! kill -0 "$(cat "$dir/pid")" 2>/dev/null; then
        echo "PulseAudio could not start; its log:" >&2
        cat "$dir/pulseaudio.log" >&2
        exit 1
      fi
      sleep 0.1
    done
    if ! "${pulse[@]}" pactl info >/dev/null 2>&1; then
      echo "PulseAudio started but does not answer at $PULSE_SERVER" >&2
      stop
      exit 1
    fi
    "${pulse[@]}" pactl set-default-sink "$SINK"
    # A muted device must stay muted whatever level is set.
    "${pulse[@]}" pactl set-sink-mute "$SINK" 1
    echo "PulseAudio $("${pulse[@]}" pactl info | sed -n 's/^Server Version: //p') at" \
      "$PULSE_SERVER, sink $SINK: $(mute_state)"
    ;;
  down)
    stop
    ;;
  keeps-mute)
    [ "${1-}" = -- ] && shift
    before=$(mute_state)
    status=0
    "$@" || status=$?
    after=$(mute_state)
    if [ "$before" != "$after" ]; then
      echo "the sink's mute state changed: '$before' before, '$after' after" >&2
      exit 1
    fi
    echo "sink $SINK kept its mute state: $after"
    exit "$status"
    ;;
  *)
    echo "usage: $0 up|down|keeps-mute DIR [-- COMMAND...]" >&2
    exit 2
    ;;
esac
