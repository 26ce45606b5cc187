#!/usr/bin/env bash
# The project's shell scripts parse, and every script of the project that one of
# them sources or runs exists: the two commands a new user runs are only tried
# whole on a fresh machine.
set -euo pipefail
root=$1
cd "$root"
status=0
for script in tools/*.sh .ci/run tests/*/*.sh; do
  [ -f "$script" ] || continue
  if ! bash -n "$script"; then
    echo "FAIL: $script does not parse" >&2
    status=1
  fi
  # "source tools/x.sh", ". tools/x.sh", "bash tools/x.sh", "exec bash tools/x.sh"
  while read -r used; do
    if [ ! -f "$used" ]; then
      echo "FAIL: $script uses $used, which does not exist" >&2
      status=1
    fi
  done < <(grep -v '^[[:space:]]*#' "$script" |
             grep -oE '(^|[;&|[:space:]])(source|\.|bash) +tools/[A-Za-z0-9_./-]+' |
             awk '{print $NF}')
done
exit $status
