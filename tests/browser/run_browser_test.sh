#!/usr/bin/env bash
# The playground in Debian's Chromium: installs playwright-core from the lock file into the build
# folder (again only when the lock file changed), then runs the tests with Node's test runner.
# Usage: run_browser_test.sh NORVISK_BINARY WORK_FOLDER
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
binary=$1
work=$2
mkdir -p "$work/out"
if ! cmp -s "$here/package-lock.json" "$work/package-lock.json" ||
  [[ ! -f $work/node_modules/playwright-core/package.json ]]; then
  cp "$here/package.json" "$here/package-lock.json" "$work/"
  # No install scripts, no browser download: Chromium is Debian's.
  (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund --prefer-offline --loglevel=error)
fi
[[ -x /usr/bin/chromium ]] || { echo "no /usr/bin/chromium (make deps-native installs it)" >&2; exit 1; }
export NORVISK_BINARY=$binary BROWSER_MODULES=$work/node_modules BROWSER_OUT=$work/out
export PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1
exec node --test --test-reporter=tap "$here/playground.test.mjs"
