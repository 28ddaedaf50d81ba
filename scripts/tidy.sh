#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source file of src/, using the
# compile commands of a configured build tree (default build/). Any finding fails the run.
# Usage: scripts/tidy.sh [build directory]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build}"
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json; configure that build first" >&2
  exit 2
fi

# The newest clang-tidy installed: it must read C++23's std::expected (clang 16 or later; on
# Debian 12 the package clang-tidy-16, its default being 14).
tidy=""
for version in 21 20 19 18 17 16; do
  if command -v "clang-tidy-$version" >/dev/null && command -v "run-clang-tidy-$version" >/dev/null; then
    tidy=$version; break
  fi
done
if [ -z "$tidy" ]; then
  echo "tidy: clang-tidy 16 or later is needed (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

# The build's flags are GCC's: clang before 17 knows C++23 as c++2b, and libstdc++ offers
# std::expected only where __cpp_concepts announces C++20's final concepts, which clang
# implements long before it announces them (clang 19).
extra=(-extra-arg=-std=c++2b)
if [ "$tidy" -lt 19 ]; then
  extra+=(-extra-arg=-U__cpp_concepts -extra-arg=-D__cpp_concepts=202002L)
fi

start=$(date +%s)
files=$(python3 - "$build/compile_commands.json" "$PWD/src/" <<'PY'
import json, sys
seen = sorted({e["file"] for e in json.load(open(sys.argv[1])) if e["file"].startswith(sys.argv[2])})
print("\n".join(seen))
PY
)
count=$(printf '%s\n' "$files" | grep -c . || true)
echo "clang-tidy $tidy over $count files of src/"
# shellcheck disable=SC2086
"run-clang-tidy-$tidy" -clang-tidy-binary "$(command -v "clang-tidy-$tidy")" -p "$build" \
  -quiet -j "$(nproc)" "${extra[@]}" $files >"$build/clang-tidy.log" 2>&1 || status=$?
status=${status:-0}
grep -E '^/.*(warning|error):' "$build/clang-tidy.log" | sort -u || true
echo "clang-tidy took $(( $(date +%s) - start )) s"
if [ "$status" -ne 0 ]; then
  echo "tidy: findings above (full output in $build/clang-tidy.log)" >&2
  exit 1
fi
