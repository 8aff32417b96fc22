# A damaged download: one byte of a stored entry, or of a compressed block,
# changed inside the built updater. The updater compares its archive with the
# CRC-32 build-exe recorded beside it and refuses before it extracts anything:
# one error box under the caption UPDATE, no page, nothing written, nothing
# left in the temporary directory, exit code 0. The same executable
# undamaged completes.

install_game 1
SRC=$E2E_WORK/src
OLD='2019-05-01 10:00:00 UTC'
NEW='2022-02-02 02:02:02 UTC'
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT' 'UpdateFile01=SOUND.PAK'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 4000 damaged-readme
make_file "$SRC/SOUND.PAK" 50000 51
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

make_text "$INST/README.TXT" 100 players-readme && stamp "$INST/README.TXT" "$OLD"
make_file "$INST/SOUND.PAK" 1000 52 && stamp "$INST/SOUND.PAK" "$OLD"
snapshot "$INST/README.TXT"
snapshot "$INST/SOUND.PAK"

# Where the archive starts in the executable, and an entry's data offset in
# the archive (wz2 list's OFFSET column).
archive_at=$(python3 -c 'import sys; print(open(sys.argv[1], "rb").read().find(open(sys.argv[2], "rb").read()))' \
  "$E2E_WORK/update.exe" "$E2E_WORK/update.wz2")
((archive_at > 0)) || { fail "the archive is not in the executable byte for byte"; return 1; }
"$E2E_TOOL" list "$E2E_WORK/update.wz2" >"$E2E_WORK/list.txt"
entry_offset() { awk -v n="$1" '$1 == n { print $5 }' "$E2E_WORK/list.txt"; }
grep -q '^README.TXT *compressed' "$E2E_WORK/list.txt" || fail "README.TXT is not compressed in the archive"
grep -q '^SOUND.PAK *stored' "$E2E_WORK/list.txt" || fail "SOUND.PAK is not stored in the archive"

# damaged_copy NAME OFFSET: the updater with the byte at OFFSET of its
# archive inverted.
damaged_copy() {
  local at=$((archive_at + $2)) byte
  cp "$E2E_WORK/update.exe" "$E2E_WORK/$1.exe"
  byte=$(od -An -tu1 -j "$at" -N1 "$E2E_WORK/$1.exe" | tr -d ' ')
  printf '%b' "$(printf '\\%03o' $((byte ^ 0xFF)))" | dd of="$E2E_WORK/$1.exe" bs=1 seek="$at" conv=notrunc status=none
  "$E2E_TOOL" list "$E2E_WORK/$1.exe" >/dev/null 2>&1 && fail "wz2 list accepts $1.exe"
}
damaged_copy stored $(($(entry_offset SOUND.PAK) + 1000))
damaged_copy compressed $(($(entry_offset README.TXT) + 20))

for name in stored compressed; do
  echo "-- one byte of the $name entry changed"
  start_updater "$E2E_WORK/$name.exe"
  expect_error_box UPDATE 'アップデータが破損しています。もう一度入手してください。'
  step "wait-exit u 0"
  run_driver
  expect_untouched "$INST/README.TXT"
  expect_untouched "$INST/SOUND.PAK"
  expect_no_temp_manifest
done

echo "-- the same updater undamaged"
start_updater
expect_start_page
finish_from_start_page
run_driver
expect_file "$INST/README.TXT" "$SRC/README.TXT" "$NEW"
expect_file "$INST/SOUND.PAK" "$SRC/SOUND.PAK" "$NEW"
expect_no_temp_manifest
