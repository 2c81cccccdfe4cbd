#!/usr/bin/env bash
# Options are answered before any display is opened: a wrong one prints the
# usage and exits 2, --help and --version exit 0; no display exists here.
# usage: options_test.sh BIN-DIR
set -uo pipefail
BIN=$1
failures=0
# program | arguments | exit code | text expected in the output
cases=(
  "gavelhawk|--help|0|用法: gavelhawk"
  "gavelhawk|--version|0|gavelhawk 3.6.0.0"
  "gavelhawk|-x|2|未知的选项：-x"
  "gavelhawk|--bogus|2|用法: gavelhawk"
  "gavelhawk|stray|2|未知的选项：stray"
  "gavelhawk|--site-url|2|需要一个值"
  "gavelhawk|-platform offscreen --nope|2|未知的选项：--nope"
  "tallyglass|--help|0|用法: tallyglass"
  "tallyglass|--version|0|tallyglass 3.0.0.0"
  "tallyglass|--bogus|2|用法: tallyglass"
  "tallyglass|-x|2|未知选项 -x"
  "tallyglass|--data-dir|2|需要一个值"
)
for c in "${cases[@]}"; do
  IFS='|' read -r program args want text <<<"$c"
  # shellcheck disable=SC2086  # the arguments are split on purpose
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$BIN/$program" $args 2>&1)
  rc=$?
  if [ "$rc" != "$want" ]; then
    echo "FAIL: $program $args exited $rc, not $want: $out" >&2
    failures=$((failures + 1))
  elif ! grep -qF -- "$text" <<<"$out"; then
    echo "FAIL: $program $args did not print '$text': $out" >&2
    failures=$((failures + 1))
  fi
done
[ $failures -eq 0 ] && echo "options: ${#cases[@]} cases passed"
exit $((failures > 0))
