#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the programs from
# there, without a display; then builds the .deb and reads its file list.
# usage: install_test.sh BUILD-DIR SOURCE-DIR
set -uo pipefail
BUILD=$1
SOURCE=$2
WORK=$(mktemp -d "${TMPDIR:-/tmp}/gavelhawk-install-test.XXXXXX")
SIM_PID=""
cleanup() {
  if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }

PREFIX=$WORK/prefix
cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }

# What a desktop needs, where it looks for it.
expected=(bin/gavelhawk bin/tallyglass bin/auction-sim
  share/applications/gavelhawk.desktop share/applications/tallyglass.desktop
  share/icons/hicolor/scalable/apps/gavelhawk.svg share/icons/hicolor/scalable/apps/tallyglass.svg)
if [ -f "$SOURCE/gavelhawk/gui/manual.html" ]; then expected+=(share/gavelhawk/manual.html); fi
for f in "${expected[@]}"; do [ -e "$PREFIX/$f" ] || fail "not installed: $f"; done
for f in "$PREFIX"/share/applications/*.desktop; do
  out=$(desktop-file-validate "$f" 2>&1) || fail "desktop-file-validate $f: $out"
  [ -z "$out" ] || fail "desktop-file-validate $f: $out"
done

# Started from the prefix, without a display.
for p in gavelhawk tallyglass; do
  out=$(nodisplay "$PREFIX/bin/$p" --help 2>&1) || fail "$p --help exited $?"
  grep -q "用法: $p" <<<"$out" || fail "$p --help printed: $out"
done

# --probe reads an auction of auction-sim, itself started from the prefix.
"$PREFIX/bin/auction-sim" --demo --port 0 >"$WORK/sim.out" 2>/dev/null &
SIM_PID=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT=//p' "$WORK/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  fail "auction-sim from the prefix reported no port"
else
  # The auction that opens in two minutes always has this title.
  out=$(nodisplay "$PREFIX/bin/gavelhawk" --site-url "http://127.0.0.1:$port" --cookies none --probe 2000235 2>&1)
  rc=$?
  [ $rc -eq 0 ] || fail "gavelhawk --probe exited $rc: $out"
  grep -q '^title=Apple AirPods Pro 第二代' <<<"$out" || fail "gavelhawk --probe printed: $out"
fi

# The package: its files and its dependencies (runtime libraries only).
if cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/pkg" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip \
  >"$WORK/cpack.log" 2>&1; then
  deb=$(ls "$WORK"/pkg/*.deb | head -1)
  files=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for f in "${expected[@]}"; do grep -qx "./usr/$f" <<<"$files" || fail "not in the package: /usr/$f"; done
  depends=$(dpkg-deb -f "$deb" Depends)
  for lib in libqt6widgets6 libcurl4 libsqlite3-0 libssl3 libpsl5 libqt6sql6-sqlite libqt6sql6-psql; do
    grep -q "$lib" <<<"$depends" || fail "the package does not depend on $lib: $depends"
  done
  grep -q -- '-dev' <<<"$depends" && fail "the package depends on a development package: $depends"
else
  fail "cpack: $(tail -5 "$WORK/cpack.log")"
fi

[ $failures -eq 0 ] && echo "install: all checks passed"
exit $((failures > 0))
