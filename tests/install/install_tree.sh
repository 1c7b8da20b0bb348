#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks the installed tree:
# exactly the files the programs use, a valid desktop entry with its icons,
# manual pages made from the programs' help, the version from the build, and
# the installed programs running from there: simulated programmers found
# through the velkor-sim beside them, the firmware file found in the data
# folders in order, the Log folder with the user when the start directory
# cannot take it.
#   install_tree.sh BUILD_DIR VERSION FIRMWARE_FILE
# Exits 77 (skipped) after all other checks passed when velkor-cli is not
# built.
set -euo pipefail
build=$1
version=$2
firmware=$3

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"
fail() { echo "FAILED: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; fail "cmake --install"; }

# --- The tree: every file named here, and nothing else.
has_cli=no
[ -e "$prefix/bin/velkor-cli" ] && has_cli=yes
expected=(
  bin/velkor350qn
  bin/velkor-sim
  share/applications/velkor350qn.desktop
  share/icons/hicolor/scalable/apps/velkor350qn.svg
  share/man/man1/velkor350qn.1.gz
  share/man/man1/velkor-sim.1.gz
  share/doc/velkor350qn/README.md
  share/doc/velkor350qn/usage.md
  share/doc/velkor350qn/cli.md
  share/doc/velkor350qn/install.md
  share/doc/velkor350qn/simulator.md
  share/doc/velkor350qn/chips.md
  share/doc/velkor350qn/examples/70-velkor350qn.rules
  share/velkor350qn/chips.json
)
icon_sizes=(16 24 32 48 64 128 256)
for size in "${icon_sizes[@]}"; do expected+=("share/icons/hicolor/${size}x${size}/apps/velkor350qn.png"); done
[ "$has_cli" = yes ] && expected+=(bin/velkor-cli share/man/man1/velkor-cli.1.gz)
# Files, and empty folders with a slash (the data folder waits for the
# firmware file).
(cd "$prefix" && { find . -type f -o -type l; find . -type d -empty -printf '%p/\n'; } | sed 's|^\./||' | sort) \
  >"$scratch/installed.txt"
printf '%s\n' "${expected[@]}" | sort >"$scratch/expected.txt"
if ! diff "$scratch/expected.txt" "$scratch/installed.txt" >"$scratch/tree.diff"; then
  echo "installed tree differs from the expected one (< missing, > not expected):" >&2
  cat "$scratch/tree.diff" >&2
  fail "installed tree"
fi
for program in velkor350qn velkor-sim; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not executable"
done

# --- Desktop entry and icons.
desktop-file-validate "$prefix/share/applications/velkor350qn.desktop" || fail "desktop entry is not valid"
grep -qx 'Exec=velkor350qn' "$prefix/share/applications/velkor350qn.desktop" || fail "desktop entry runs another program"
grep -qx 'Icon=velkor350qn' "$prefix/share/applications/velkor350qn.desktop" || fail "desktop entry names another icon"
for size in "${icon_sizes[@]}"; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/velkor350qn.png"
  # Width and height: big-endian words at bytes 16 and 20 of a PNG.
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((w0 << 24) | (w1 << 16) | (w2 << 8) | w3))
  height=$(((h0 << 24) | (h1 << 16) | (h2 << 8) | h3))
  [ "$width" -eq "$size" ] && [ "$height" -eq "$size" ] || fail "icon for ${size}x${size} is ${width}x${height}"
done
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/velkor350qn.svg" || fail "scalable icon is no SVG"

# --- Manual pages: made from the programs' help, carrying the version.
man_text() { gzip -dc "$prefix/share/man/man1/$1.1.gz"; }
check_man() { # PROGRAM PATTERN...: the page's section-1 title, the version, what its help says
  local program=$1 page
  shift
  page=$(man_text "$program") || fail "manual page of $program is not gzip"
  grep -q "^\.TH $(tr a-z A-Z <<<"$program") \"1\"" <<<"$page" || fail "manual page of $program has no section-1 title"
  grep -qF "$version" <<<"$page" || fail "manual page of $program does not carry version $version"
  for word in "$@"; do
    grep -q -- "$word" <<<"$page" || fail "manual page of $program does not describe $word"
  done
}
check_man velkor-sim '\\-\\-count' '\\-\\-firmware\\-file'
check_man velkor350qn '\\-\\-simulate' '\\-\\-ports'

# --- The installed programs run from the prefix alone: no build folder on
# the PATH, no VELKOR_SIM, a home of their own.
home="$scratch/home"
mkdir -p "$home"
run_installed() {
  env -u VELKOR_SIM -u DISPLAY -u WAYLAND_DISPLAY -u VELKOR_PORTS -u XDG_DATA_HOME \
    HOME="$home" PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
[ "$(run_installed "$prefix/bin/velkor350qn" --version)" = "velkor350qn $version" ] ||
  fail "velkor350qn --version does not print \"velkor350qn $version\" without a display"

# The window: started where it cannot keep its Log folder (a file holds the
# name), with a firmware file in the installed data folder, then with one in
# the user's too. (Without any, the window waits on its not-found box; the
# program's tests cover that case and the folders it names.)
start="$scratch/start"
mkdir -p "$start"
: >"$start/Log"
user_data="$home/.local/share/velkor350qn"
window() { # OUTPUT: runs the installed window with one simulated programmer
  (cd "$start" && run_installed QT_QPA_PLATFORM=offscreen timeout 30 "$prefix/bin/velkor350qn" \
    --simulate --sim-count 1 --echo-log --exit-after 1500 >"$1" 2>"$1.err") ||
    { cat "$1" "$1.err"; fail "the installed window ended with an error"; }
}
expect_line() { # OUTPUT TEXT: a log line ending in TEXT
  grep -qF -- "$2" "$1" || { cat "$1"; fail "no log line \"$2\""; }
}

cp "$firmware" "$prefix/share/velkor350qn/"
window "$scratch/installed.txt"
expect_line "$scratch/installed.txt" "Firmware file: $prefix/share/velkor350qn/VelkorQN_EDF.VFR"
expect_line "$scratch/installed.txt" "C1: Find Device: Velkor350QN V3.10!"
expect_line "$scratch/installed.txt" "Chip catalogue: $prefix/share/velkor350qn/chips.json, "
expect_line "$scratch/installed.txt" "No Log folder can be made in the start directory; log files go to $user_data/Log."
ls "$user_data/Log/"QN_*.log >/dev/null 2>&1 || fail "no log file in $user_data/Log"

mkdir -p "$user_data"
cp "$firmware" "$user_data/"
window "$scratch/user.txt"
expect_line "$scratch/user.txt" "Firmware file: $user_data/VelkorQN_EDF.VFR"
rm -f "$prefix/share/velkor350qn/VelkorQN_EDF.VFR"

# No simulator of this prefix may be left running.
sleep 0.3
if pgrep -f "^$prefix/bin/velkor-sim" >/dev/null; then fail "an installed velkor-sim was left running"; fi

# --- The command line.
if [ "$has_cli" = no ]; then
  echo "SKIPPED: velkor-cli is not built, so its installed program, manual page and --simulate detect are not" \
    "checked; everything else above passed."
  exit 77
fi
run_installed "$prefix/bin/velkor-cli" --version | grep -qF "$version" || fail "velkor-cli --version does not print $version"
commands=()
for command in ports detect chips download auto program verify erase blank read id convert; do
  commands+=("\\<$command\\>")
done
check_man velkor-cli "${commands[@]}" '\\-\\-simulate'
(cd "$start" && run_installed timeout 30 "$prefix/bin/velkor-cli" --simulate detect >"$scratch/detect.txt" 2>&1) ||
  { cat "$scratch/detect.txt"; fail "velkor-cli --simulate detect failed"; }
grep -q 'Velkor350QN' "$scratch/detect.txt" || { cat "$scratch/detect.txt"; fail "velkor-cli found no simulated programmer"; }
sleep 0.3
if pgrep -f "^$prefix/bin/velkor-sim" >/dev/null; then fail "velkor-cli left an installed velkor-sim running"; fi
echo "installed tree checked: $(wc -l <"$scratch/expected.txt") entries, programs run from $prefix"
