#!/usr/bin/env bash
# Formats the C and C++ sources with the project's .clang-format; with --check it changes
# nothing and fails, naming the files, when any file is not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files -- 'src/*.c' 'src/*.cpp' 'src/*.h' 'include/*.h' \
  'tests/*.c' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 2>/dev/null ||
  find src include tests bench -name '*.c' -o -name '*.cpp' -o -name '*.h')
if [[ "${1:-}" != "--check" ]]; then
  clang-format -i "${files[@]}"
  exit 0
fi
unformatted=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [[ ${#unformatted[@]} -ne 0 ]]; then
  echo "not formatted (make format fixes them): ${unformatted[*]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files formatted as .clang-format says"
