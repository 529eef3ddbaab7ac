#!/bin/sh
# Stands in for a companion program: writes its argument vector, one argument a
# line, to $QUANTIRO_ARGS_DIR/<its file name>.<pid>. As the monitor ("dlmon.dll")
# it then stays, as the monitor does, until it is told to end.
name=${0##*/}
out="$QUANTIRO_ARGS_DIR/$name.$$"
printf '%s\n' "$0" "$@" >"$out.tmp" && mv "$out.tmp" "$out"
if [ "$name" = dlmon.dll ]; then
    exec sleep 60
fi
