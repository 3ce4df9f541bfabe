#!/usr/bin/env bash
# The long soak runs, for a person (about 1.5 hours): 1000 unplug/replug cycles, 1000 SIGKILLs during
# settings saves and a one-hour stream, each failing on a call that blocks over 5.5 s as well.
#   tests/soak/long.sh [BUILD_DIR]      default build
set -euo pipefail
build=${1:-build}
soak="$build/tests/soak/zelvik_soak"
cmake --build "$build" --target zelvik_soak
status=0
"$soak" unplug 1000 --strict || status=1
"$soak" kill 1000 || status=1
"$soak" stream 3600 --strict || status=1
exit $status
