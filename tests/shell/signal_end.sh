#!/usr/bin/env bash
# The real program, started on the test pattern, ends in order on SIGTERM and on SIGINT: it exits
# with status 0 and has written all eight window settings.
set -euo pipefail
ostrel="$1"
config="$XDG_CONFIG_HOME/Ostrel/Ostrel.conf"

for signal in TERM INT; do
  rm -f "$config"
  "$ostrel" 2>/dev/null &
  pid=$!
  sleep 2  # well past start-up, where the signal handlers are installed
  kill -"$signal" "$pid"
  status=0
  wait "$pid" || status=$?
  if [ "$status" -ne 0 ]; then
    echo "SIG$signal: exit status $status"; exit 1
  fi
  for key in OstrelLeft OstrelTop VideoLeft VideoTop VideoVisible MonitorLeft MonitorTop MonitorVisible; do
    grep -q "^$key=" "$config" || { echo "SIG$signal: $key not written"; cat "$config"; exit 1; }
  done
  echo "SIG$signal: ended in order"
done

# A signal that arrives while start-up shows a message box (a source that cannot be opened)
# still ends the program.
"$ostrel" --source /nonexistent/video.mkv 2>/dev/null &
pid=$!
sleep 3
kill -TERM "$pid"
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"; echo "SIGTERM during a start-up message did not end the program"; exit 1
fi
status=0
wait "$pid" || status=$?
[ "$status" -eq 0 ] || { echo "SIGTERM during a start-up message: exit status $status"; exit 1; }
echo "SIGTERM during a start-up message: ended"
