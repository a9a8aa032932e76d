#!/bin/sh
# Runs one integration test process inside lumek-sandbox: sandboxed.sh SANDBOX -- EXE ARGS.
# With LUMEK_TEST_VALGRIND set (./run test does) the test process runs under valgrind in
# there; the listing of the tests does not.
set -eu
sandbox=$1
shift
[ "${1:-}" = "--" ] && shift
case " $* " in *" --gtest_list_tests "*) exec "$sandbox" -- "$@" ;; esac
if [ -n "${LUMEK_TEST_VALGRIND:-}" ]; then
  exec "$sandbox" -- valgrind --quiet --leak-check=full --error-exitcode=1 \
    --suppressions="$(dirname "$0")/../valgrind.supp" "$@"
fi
exec "$sandbox" -- "$@"
