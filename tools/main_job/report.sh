# shellcheck shell=bash
# The main job's narration: a heading per stage, one line per check, and the closing table.
# Sourced by tools/main_job.sh.
#   stage_begin <title> <line>...    heading, then what the stage does and expects
#   check <what> <command>...        runs the command; a failure fails the stage
#   stage_end <action> <outcome>     one row of the table: what the bridge did, what came of it
#   print_summary                    the table; returns 1 when a stage failed

STAGE_COUNT=0
STAGE_FAILED=0
STAGE_STARTED=0
SUMMARY_ROWS=()
ANY_FAILED=0

stage_begin() {
  STAGE_COUNT=$((STAGE_COUNT + 1))
  STAGE_TITLE="$1"
  STAGE_FAILED=0
  STAGE_STARTED="$(date +%s%N)"
  shift
  echo
  echo "=============================================================================="
  echo " Stage $STAGE_COUNT: $STAGE_TITLE"
  echo "=============================================================================="
  local line
  for line in "$@"; do echo " $line"; done
  echo
}

check() {
  local what="$1"
  shift
  if "$@"; then
    echo "  ok      $what"
  else
    echo "  FAILED  $what"
    STAGE_FAILED=1
  fi
}

stage_end() {
  local action="$1" outcome="$2" result
  local tenths=$((($(date +%s%N) - STAGE_STARTED) / 100000000))
  if [ "$STAGE_FAILED" = 0 ]; then
    result="passed: $outcome"
  else
    result="FAILED: $outcome"
    ANY_FAILED=1
  fi
  SUMMARY_ROWS+=("$(printf '%-2s %-26s %-40s %-27s %3d.%d s' "$STAGE_COUNT" \
    "$STAGE_TITLE" "$action" "$result" $((tenths / 10)) $((tenths % 10)))")
}

print_summary() {
  echo
  echo "Summary"
  printf '%-2s %-26s %-40s %-27s %7s\n' "#" "Stage" "Action taken" "Result" "Time"
  local row
  for row in "${SUMMARY_ROWS[@]}"; do echo "$row"; done
  echo
  if [ "$ANY_FAILED" = 0 ]; then
    echo "main job: every stage did what it says"
    return 0
  fi
  echo "main job: a stage did not do what it says (see FAILED above)"
  return 1
}
