# Sourced by end-to-end scripts: a scratch folder $work removed at exit, fail MESSAGE (prints it
# and the program's console output kept in $work/err.txt, then ends the test), and asan_build BIN
# (true for an AddressSanitizer build, which no address-space limit suits).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  cat "$work/err.txt" 2>/dev/null || true
  exit 1
}
# (Not ldd | grep -q: grep leaving at its first match can end ldd with SIGPIPE, and under
# pipefail the test then counts as no AddressSanitizer build.)
asan_build() { [[ "$(ldd "$1" 2>/dev/null)" == *libasan* ]]; }
