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
