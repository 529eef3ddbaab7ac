#!/usr/bin/env bash
# The layer check on copies of src/ with one fault each: a folder reaching a floor
# it does not list only through a header it includes (its own includes are all
# listed), and a plain include that runs back up.
#   layers_test.sh ROOT
set -u
root=$1
# shellcheck source=tests/check.sh
source "$(dirname "$0")/check.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# checked FILE LINE: the check's output on a copy of src/ with LINE added to FILE;
# status its exit status.
checked() {
    rm -rf "$work/src" && cp -rL "$root/src" "$work/src"
    echo "$2" >> "$work/src/$1"
    "$root/scripts/check-layers.sh" "$work/src" > "$work/out" 2>&1
    status=$?
}

# platform/ may include common/; applications/, which includes this header, lists
# platform/ alone.
checked platform/ApplicationCounters.h '#include "common/Rounding.h"'
check "a floor reached through a header must be listed" \
    '[ $status -ne 0 ] && grep -q "reaches common/Rounding.h through platform/ApplicationCounters.h; common is not listed below applications" "$work/out"'
check "the header's own include is no fault" \
    '! grep -q "^layers: platform/ApplicationCounters.h" "$work/out"'

checked records/MonthlySum.h '#include "shell/Meter.h"'
check "an include that runs up fails" \
    '[ $status -ne 0 ] && grep -q "records/MonthlySum.h includes shell/Meter.h, which is not below records" "$work/out"'

exit $((failures > 0))
