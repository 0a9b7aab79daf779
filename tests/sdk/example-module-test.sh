#!/usr/bin/env bash
# example-module-test.sh MODE BUILD_DIR EXAMPLE_DIR CXX
#
# Installs the build tree into a temporary prefix with cmake --install, builds
# the example module out of tree against that SDK (MODE cmake: its CMake
# project and find_package; MODE pkg-config: one compiler command), puts its
# description into a private $XDG_DATA_HOME/yonderpad/Repository and starts the
# installed `yonderpad PROJECT.prj` with a project that links the module to the
# example page. The page sends a number on "Input", the module answers on
# "Output" with the number times the project's factor, and the page traces the
# answer: the trace line on standard error is the value back on the page.
set -euo pipefail
mode=$1 build=$2 example=$3 cxx=$4
tmp=$(mktemp -d)
xvfb=""
program=""
cleanup() {
  [ -n "$program" ] && kill -TERM "$program" 2>/dev/null && wait "$program" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

cmake --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log"
data="$tmp/home/.local/share"
mkdir -p "$data/yonderpad/Repository"

case "$mode" in
  cmake)
    # The example's own install puts the library, the description and the
    # project (factor 3) under the prefix; with prefix ~/.local its share/ is
    # the user's data folder.
    cmake -S "$example" -B "$tmp/example" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$tmp/prefix" \
      -DCMAKE_INSTALL_PREFIX="$tmp/home/.local" >"$tmp/example.log"
    cmake --build "$tmp/example" >>"$tmp/example.log"
    cmake --install "$tmp/example" >>"$tmp/example.log"
    project="$data/yonderpad-scaler/Scaler.prj"
    expected="Output 42"
    ;;
  pkg-config)
    # The guide's one command; the description and the project written by hand,
    # the project keeping another factor.
    mkdir -p "$tmp/module"
    # shellcheck disable=SC2046
    "$cxx" -shared -fPIC -fvisibility=hidden -o "$tmp/module/libScaler.so" "$example/Scaler.cpp" \
      $(PKG_CONFIG_PATH="$tmp/prefix/lib/pkgconfig" pkg-config --cflags --libs yonderpad-sdk)
    sed "s|@SCALER_LIBRARY@|$tmp/module/libScaler.so|" "$example/Scaler.scm.in" \
      >"$data/yonderpad/Repository/Scaler.scm"
    # The page goes beside the project: only a page in the project's own
    # folder may use the program's bridge.
    project="$tmp/module/Scaler.prj"
    cp -r "$example/page" "$tmp/module/page"
    sed -e "s|@SCALER_PAGE@|page/index.html|" -e 's|name="Factor" type="257" value="3"|name="Factor" type="257" value="5"|' \
      "$example/Scaler.prj.in" >"$project"
    expected="Output 70"
    ;;
  *) echo "unknown mode $mode" >&2; exit 2 ;;
esac

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 200 240); do [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break; done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  export DISPLAY=":$n"
fi
mkdir -m 0700 "$tmp/config" "$tmp/cache" "$tmp/runtime"
if ldd "$tmp/prefix/bin/yonderpad" | grep libasan >/dev/null; then  # (grep -q would end ldd early)
  # A sanitized build: leaks at exit are the end-to-end stories' subject, not this test's.
  echo "sanitized program: leak detection at exit is off for this test"
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fi
HOME="$tmp/home" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" \
  XDG_RUNTIME_DIR="$tmp/runtime" KORVO_MIDI=sim NO_AT_BRIDGE=1 G_MESSAGES_DEBUG=Yonderpad \
  "$tmp/prefix/bin/yonderpad" --trust-project "$project" >"$tmp/program.log" 2>&1 &
program=$!

for _ in $(seq 600); do
  grep -q "SCRIPT TRACE \*\*\* $expected\$" "$tmp/program.log" && break
  kill -0 "$program" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q "SCRIPT TRACE \*\*\* $expected\$" "$tmp/program.log"; then
  echo "The page did not get \"$expected\" back from the module. Program output:" >&2
  cat "$tmp/program.log" >&2
  exit 1
fi
echo "page -> module -> page: $expected"
kill -TERM "$program"
status=0
wait "$program" || status=$?
program=""
[ "$status" -eq 0 ] || { echo "the program exited with $status after SIGTERM" >&2; cat "$tmp/program.log" >&2; exit 1; }
