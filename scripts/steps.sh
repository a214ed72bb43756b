# Sourced by scripts/run, scripts/test and scripts/package: each step of a run
# says what it does in one line, and keeps its full output in a log file,
# whose last lines are shown when the step fails.
#
#   steps_init LOGDIR                 where the logs go (created)
#   step LABEL LOG COMMAND...         runs COMMAND, output into LOGDIR/LOG
#   build_step LABEL LOG BUILDDIR [TARGET...]
#                                     cmake --build with the percentage done
# A step that fails ends the script with the command's status.

steps_log_dir=build/logs
steps_jobs=$(nproc)
steps_tty=0
[ -t 1 ] && steps_tty=1

steps_init() {
  steps_log_dir=$1
  mkdir -p "$steps_log_dir"
}

# "1 min 12 s" or "8 s" since the given $SECONDS value.
steps_elapsed() {
  local s=$((SECONDS - $1))
  if [ $s -ge 60 ]; then echo "$((s / 60)) min $((s % 60)) s"; else echo "$s s"; fi
}

steps_fail() {  # label, log, status
  local log=$3 lines=${STEPS_TAIL_LINES:-40}
  echo
  echo "$1: failed (status $2); the last $lines lines of $log:" >&2
  tail -n "$lines" "$log" | sed 's/^/  | /' >&2
  echo "$1: the full output is in $log" >&2
  exit "$2"
}

# The line a step prints when done: its label, then the last line its command
# wrote when STEP_SUMMARY=last (setup says how many packages it installed).
step() {
  local label=$1 log=$steps_log_dir/$2
  shift 2
  local start=$SECONDS status=0
  printf '%s ...' "$label"
  "$@" >"$log" 2>&1 || status=$?
  [ $status -eq 0 ] || steps_fail "$label" $status "$log"
  local summary="done in $(steps_elapsed $start)"
  if [ "${STEP_SUMMARY:-}" = last ]; then summary=$(tail -n 1 "$log"); fi
  if [ $steps_tty = 1 ]; then printf '\r\033[K%s: %s\n' "$label" "$summary"; else printf ' %s\n' "$summary"; fi
}

# Reads ninja's "[n/m]" lines and shows the percentage in place on a terminal.
steps_progress() {
  local label=$1 line last=-1 percent
  while IFS= read -r line; do
    # CMake's own re-checks come first with a total of their own; skip them.
    [[ $line == *"Re-checking globbed directories"* || $line == *"Re-running CMake"* ]] && continue
    [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
    percent=$((BASH_REMATCH[1] * 100 / BASH_REMATCH[2]))
    if [ $steps_tty = 1 ] && [ $percent != $last ]; then
      printf '\r\033[K%s: %d %% (%s/%s)' "$label" $percent "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
      last=$percent
    fi
  done
}

build_step() {
  local label=$1 log=$steps_log_dir/$2 dir=$3
  shift 3
  local targets=() t start=$SECONDS status
  for t in "$@"; do targets+=(--target "$t"); done
  printf '%s ...' "$label"
  set +e
  cmake --build "$dir" -j "$steps_jobs" "${targets[@]}" 2>&1 | tee "$log" | steps_progress "$label"
  status=${PIPESTATUS[0]}
  set -e
  [ "$status" -eq 0 ] || steps_fail "$label" "$status" "$log"
  # Ninja's total counts steps it then finds it can skip; count the ones run. The
  # build commit is remade at every build, and says nothing changed.
  local done summary
  done=$(grep -E '^\[[0-9]+/[0-9]+\]' "$log" | grep -cvE 'Re-checking globbed|Re-running CMake|Build commit')
  if [ "$done" -eq 0 ]; then
    summary="up to date"
  else
    summary="100 % ($done steps) in $(steps_elapsed $start)"
  fi
  if [ $steps_tty = 1 ]; then printf '\r\033[K%s: %s\n' "$label" "$summary"; else printf ' %s\n' "$summary"; fi
}
