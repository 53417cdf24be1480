# Sourced by the ship tests: a scratch directory removed on exit, and the
# failure count.
#   need TOOL...  ends the test, failed, when a tool is not installed
#   fail TEXT     reports one failed check; the test goes on

need() {
  missing=
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing="$missing $tool"
  done
  [ -z "$missing" ] || { echo "not installed:$missing" >&2; exit 1; }
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The tools' own temporary files (lintian's among them) go there too.
export TMPDIR="$tmp"
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
