#!/usr/bin/env bash
# The compiler launcher of every build scripts/build.sh makes: it runs one compile (through
# ccache when there is one) and keeps what the compiler said beside the object, as
# OBJECT.warnings. scripts/test.sh fails on any such file that is not empty, so warnings fail
# the test run whichever command compiled the object, while the run command and the test
# command compile with the same flags and never rebuild each other's objects.
obj=""
prev=""
for arg in "$@"; do
  [ "$prev" = "-o" ] && obj="$arg"
  prev="$arg"
done
[ -n "$obj" ] || exec "$@"
mkdir -p "$(dirname "$obj")"
"$@" 2>"$obj.warnings"
rc=$?
cat "$obj.warnings" >&2
exit $rc
