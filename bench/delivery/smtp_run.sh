#!/usr/bin/env bash
# One crash report mailed by SMTP to one recipient against a local aiosmtpd server: the time from
# the client's connection until it closes after the accepted message (smtp_bench.py), in a Wine
# session of its own.
#   bench/delivery/smtp_run.sh [BUILD_DIR] [RUNS]     (default: build/win32, the tests' build; 5)
# Another tree's build (an older revision, say) is measured by naming its build folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/win32}
runs=${2:-5}
if [ "$build" = "$root/build/win32" ]; then cmake --build "$build" --target crashlog_mail_crash >/dev/null; fi
work=$(mktemp -d)
session=$work/session
trap '"$root/scripts/wine-session.sh" stop "$session" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/scripts/wine-session.sh" start "$session" >/dev/null
export PELLORAN_WINE_SESSION=$session
echo "== a report to one recipient ($build)"
/usr/bin/python3 "$root/bench/delivery/smtp_bench.py" "$build/crash/mail_crash/crashlog_mail_crash.exe" \
  "$root/scripts/wine-run.sh" "$runs"
