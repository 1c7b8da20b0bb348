#!/usr/bin/env bash
# The window started for one locked job: with its key it runs in operator
# mode and leaves the station's remembered settings alone; with a wrong key
# the job is refused, nothing is loaded, and the window closes with exit
# status 7 instead of falling back to an open window.
set -euo pipefail
window=$1
cli=$2
firmware=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$firmware" "$scratch/"
cd "$scratch"
export QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME="$scratch/config"
settings="$XDG_CONFIG_HOME/velkor350qn/velkor350qn.conf"
fail() { echo "$1"; cat log.txt; exit 1; }

seq 1 3000 | head -c 8192 > data.bin
"$cli" convert data.bin job.OVP --chip W25x10xx > /dev/null 2>&1
echo "line 3 qualified" > right.pass
echo "line 3 qualifies" > wrong.pass
"$cli" lock job.OVP line3.job --passphrase-file right.pass > /dev/null
mkdir -p "$(dirname "$settings")"
printf '[General]\nchip=24xx02\n' > "$settings"

status=0
timeout 60 "$window" --language en --echo-log --exit-after 1500 --operator line3.job \
  --passphrase-file right.pass > log.txt 2>/dev/null || status=$?
[ "$status" -eq 0 ] || fail "the window ended with status $status"
grep -q 'Locked job "line3.job" verified: hmac-sha256-passphrase ' log.txt || fail "the job was not verified"
grep -q 'Operator mode: the locked job "line3.job" runs' log.txt || fail "operator mode was not entered"
grep -q '^chip=24xx02$' "$settings" || { cat "$settings"; fail "operator mode changed the remembered chip"; }

status=0
timeout 60 "$window" --language en --echo-log --exit-after 5000 --operator line3.job \
  --passphrase-file wrong.pass > log.txt 2>&1 || status=$?
[ "$status" -eq 7 ] || fail "a refused job did not end the window with status 7 (status $status)"
grep -q '^The locked job "line3.job" was refused:$' log.txt || fail "no box said the job was refused"
grep -q 'lock: does not match' log.txt || fail "the refusal does not name the lock"
if grep -q 'Operator mode: ' log.txt; then fail "a refused job entered operator mode"; fi

status=0
"$window" --passphrase-file right.pass > log.txt 2>&1 || status=$?
[ "$status" -eq 2 ] || fail "--passphrase-file without --operator was not refused (status $status)"
echo "operator mode check passed"
