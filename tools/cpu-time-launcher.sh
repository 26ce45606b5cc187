#!/bin/sh
# A compiler launcher that appends each step's CPU seconds (user + system) and
# its output file to $CPU_TIME_LOG, for tools/compile-times.py: unlike the
# durations in .ninja_log, they do not depend on what else the machine runs.
#   cmake -DCMAKE_CXX_COMPILER_LAUNCHER=/path/to/cpu-time-launcher.sh ...
out=
prev=
for arg; do
  [ "$prev" = "-o" ] && out=$arg
  prev=$arg
done
exec /usr/bin/time -a -o "${CPU_TIME_LOG:?}" -f "%U %S $out" "$@"
