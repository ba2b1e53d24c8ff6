# Sourced by the benchmarks: wait_quiet waits until the CPUs have been
# nearly idle for one second, so that a measurement does not share them with
# other work. It gives up after QUIET_MAX_WAIT seconds (default 120) and goes
# on. quiet_note says how idle the CPUs were when the measurements began: the
# lowest figure since the last quiet_reset.
#   QUIET_IDLE   percent of all CPU time that must be idle (default 90)

quiet_lowest=100
quiet_note=""

quiet_reset() {
  quiet_lowest=100
  quiet_note=""
}

# Percent of CPU time idle over the next second, from /proc/stat.
idle_percent() {
  local a b
  a=$(awk '/^cpu / { print $5 + $6, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9 }' /proc/stat)
  sleep 1
  b=$(awk '/^cpu / { print $5 + $6, $2 + $3 + $4 + $5 + $6 + $7 + $8 + $9 }' /proc/stat)
  awk -v a="$a" -v b="$b" 'BEGIN { split(a, x, " "); split(b, y, " ");
    t = y[2] - x[2]; printf "%d", (t > 0 ? 100 * (y[1] - x[1]) / t : 100) }'
}

wait_quiet() {
  local want=${QUIET_IDLE:-90} max=${QUIET_MAX_WAIT:-120} idle start=$SECONDS
  while :; do
    idle=$(idle_percent)
    [ "$idle" -ge "$want" ] || [ $((SECONDS - start)) -ge "$max" ] && break
  done
  [ "$idle" -lt "$quiet_lowest" ] && quiet_lowest=$idle
  if [ "$quiet_lowest" -ge "$want" ]; then
    quiet_note="quiet (idle >= ${quiet_lowest}%)"
  else
    quiet_note="busy (idle ${quiet_lowest}% at worst)"
  fi
  return 0
}
