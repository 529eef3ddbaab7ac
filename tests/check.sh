# Shared by the test scripts: one check a line, "ok - ..." or "not ok - ...", with
# the failures counted for the script's exit status. Sourced.
failures=0
# check DESCRIPTION CONDITION: CONDITION is evaluated in the script's own shell.
check() { if eval "$2"; then echo "ok - $1"; else echo "not ok - $1"; failures=$((failures + 1)); fi; }
