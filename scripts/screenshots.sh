#!/usr/bin/env bash
# Builds the program and renders the main window, without a display, at the
# size of a bench PC's screen (1280x800): with a chip chosen from the chip
# menu (docs/screenshots/<chip>.png), after an automatic programming run
# on two simulated programmers (docs/screenshots/auto-two-programmers.png),
# during one (busy-two-programmers.png), and with an EEPROM image in the hex
# grid (24xx02-hex-grid.png), the programmer-control page with the
# production line's settings (programmer-control.png), and a verify that
# fails on a chip with a defective cell, read back to name the address
# (verify-difference.png); and the English window during a run
# (english-busy.png) and after one that passed on one programmer and failed
# on the other (english-pass-fail.png); and an image compared with another
# file (compare.png); and operator mode running a locked job
# (operator-mode.png).
# Pass another build directory as the first argument to use a build you
# already have.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-}
if [ -z "$build" ]; then
  "$root/scripts/build.sh"
  build="$root/build"
else
  cmake --build "$build" -j"$(nproc)" --target velkor350qn velkor-cli velkor-sim demo_firmware
  build=$(cd "$build" && pwd)
fi
window="$build/ui/velkor350qn"
out="$root/docs/screenshots"
mkdir -p "$out"

# The window makes its log folder in the directory it starts in, and finds
# the programmers' firmware file there.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cp "$build/run/VelkorQN_EDF.VFR" "$scratch/"

shoot() {  # file name, then the window's options
  local file=$1
  shift
  (cd "$scratch" && QT_QPA_PLATFORM=offscreen "$window" --screenshot "$out/$file" "$@" 2>/dev/null)
  echo "$out/$file"
}
shoot w25x128xx.png --screenshot-chip "W25x128xx"
shoot 24xx02.png --screenshot-chip "24xx02"

# The same data every time, so that the picture changes only with the program.
seq 1 15000 > "$scratch/data.bin"
shoot auto-two-programmers.png --simulate --screenshot-chip "W25x10xx" --screenshot-load data.bin \
  --screenshot-auto
# Programmers at work at the line's pace: what would change their job is
# greyed out.
head -c 2097152 /dev/zero | tr '\0' '\125' > "$scratch/big.bin"
shoot busy-two-programmers.png --simulate --sim-option=--pace --sim-option=--block-time-us \
  --sim-option=20000 --screenshot-chip "W25x16xx" --screenshot-load big.bin --screenshot-busy
# The hex grid of an EEPROM image: every address whole.
head -c 256 "$scratch/data.bin" > "$scratch/eeprom.bin"
shoot 24xx02-hex-grid.png --screenshot-chip "24xx02" --screenshot-load eeprom.bin --screenshot-page TabSheetFlash
# The image compared with another file: a 24xx16 image against a copy with
# a run of four bytes, a lone byte and a line of text changed; the differing
# bytes coloured in the grid, their count in the status bar.
head -c 2048 "$scratch/data.bin" > "$scratch/firmware.bin"
cp "$scratch/firmware.bin" "$scratch/patched.bin"
printf '\x00\x11\x22\x33' | dd of="$scratch/patched.bin" bs=1 seek=$((0x12)) conv=notrunc status=none
printf '\xAA' | dd of="$scratch/patched.bin" bs=1 seek=$((0x125)) conv=notrunc status=none
printf 'serial 000123' | dd of="$scratch/patched.bin" bs=1 seek=$((0x180)) conv=notrunc status=none
shoot compare.png --language en --screenshot-chip "24xx16" --screenshot-load firmware.bin \
  --screenshot-compare patched.bin
# Operator mode: a locked job made on the command line from the same data,
# run on two simulated programmers; the banner names the job, chip, image
# digest and lock, and what would change the job is greyed out.
head -c 131072 "$scratch/data.bin" > "$scratch/sensor.bin"
echo "line 3 qualified" > "$scratch/line3.pass"
(cd "$scratch" && "$build/cli/velkor-cli" convert sensor.bin sensor-v2.OVP --chip W25x10xx >/dev/null 2>&1 &&
  "$build/cli/velkor-cli" lock sensor-v2.OVP sensor-v2.job --passphrase-file line3.pass >/dev/null)
shoot operator-mode.png --language en --simulate --operator sensor-v2.job --passphrase-file line3.pass \
  --screenshot-auto
# The programmer-control page: traceability and the production line's
# database, pool and station.
shoot programmer-control.png --screenshot-chip "W25x10xx" --screenshot-page TabSheetCtrl
# A verify that fails: both chips have a cell stuck at 0x00, and the
# read-back names its address with both bytes.
shoot verify-difference.png --simulate --sim-option=--stuck-byte --sim-option=0x1234=0x00 \
  --screenshot-chip "W25x10xx" --screenshot-load data.bin --screenshot-auto

# The window in English: two programmers at work, each with its stage,
# speed and time left.
shoot english-busy.png --language en --simulate --sim-option=--pace --sim-option=--block-time-us \
  --sim-option=20000 --screenshot-chip "W25x16xx" --screenshot-load big.bin --screenshot-busy
# And after a run where programmer 1's chip is good and programmer 2's has a
# defective cell: PASS beside FAIL. Each programmer is a simulator of its
# own, so that only the second one's chip is defective; each runs until its
# standard input (a pipe held open here) closes.
exec 3> >("$build/sim/velkor-sim" > "$scratch/good-port" 2>/dev/null)
exec 4> >("$build/sim/velkor-sim" --stuck-byte 0x1234=0x00 > "$scratch/bad-port" 2>/dev/null)
for port in good-port bad-port; do
  for _ in $(seq 50); do [ -s "$scratch/$port" ] && break; sleep 0.1; done
done
shoot english-pass-fail.png --language en --ports "$(head -1 "$scratch/good-port"),$(head -1 "$scratch/bad-port")" \
  --screenshot-chip "W25x10xx" --screenshot-load data.bin --screenshot-auto
exec 3>&- 4>&-

