# A complete update: every operation code, a compressed and a stored entry,
# the install-mode filter, DataFolder, copies from the game's CD-ROM (a
# directory after a disk search, then a read-only file from the same drive),
# the start-up message, and exit code 1.

install_game 1
SRC=$E2E_WORK/src
OLD='2019-05-01 10:00:00 UTC'   # the installed files the update replaces
NEW='2021-03-04 05:06:07 UTC'   # the update's files
NEWER='2024-01-01 00:00:00 UTC' # an installed file newer than the update's

{
  manifest_setup 'DataFolder=DATA' 'UpdateMessage=更新内容:\n表nの修正'
  cat <<'INI'
[UPDATE]
RequiredDiskSpace=1000000
UpdateFile00=README.TXT
UpdateFile01=u,SOUND.PAK
UpdateFile02=u,MUSIC.PAK
UpdateFile03=o,VOICE\VOICE1.PAK
UpdateFile04=o,VOICE\VOICE2.PAK
UpdateFile05=d,USER.DAT
UpdateFile06=d,CONFIG.DAT
UpdateFile07=1,U,PATCH1.DAT
UpdateFile08=2,PATCH2.DAT
CopyFile00=1:MOVIE
CopyFile01=BONUS.TXT
CopyFile02=2,1:EXTRA.TXT
INI
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 2000 readme
make_file "$SRC/SOUND.PAK" 3000000 11
make_file "$SRC/MUSIC.PAK" 20000 12
make_file "$SRC/VOICE1.PAK" 30000 13
make_file "$SRC/VOICE2.PAK" 30000 14
make_text "$SRC/USER.DAT" 100 user-from-update
make_text "$SRC/CONFIG.DAT" 100 config
make_text "$SRC/PATCH1.DAT" 300 patch1
make_text "$SRC/PATCH2.DAT" 300 patch2
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

# The archive holds both kinds of entry the updater must write.
"$E2E_TOOL" list "$E2E_WORK/update.wz2" >"$E2E_WORK/list.txt"
grep -i 'README.TXT' "$E2E_WORK/list.txt" | grep -qi compressed || fail "README.TXT is not compressed in the archive"
grep -i 'SOUND.PAK' "$E2E_WORK/list.txt" | grep -qi stored || fail "SOUND.PAK is not stored in the archive"

# The installation as it was before: older SOUND.PAK, newer MUSIC.PAK, one
# voice file (the other is not installed), the player's own USER.DAT.
mkdir -p "$INST/DATA/VOICE" "$DATA/DATA"
make_file "$INST/DATA/SOUND.PAK" 1000 21 && stamp "$INST/DATA/SOUND.PAK" "$OLD"
make_file "$INST/DATA/MUSIC.PAK" 1000 22 && stamp "$INST/DATA/MUSIC.PAK" "$NEWER"
make_file "$INST/DATA/VOICE/VOICE1.PAK" 1000 23 && stamp "$INST/DATA/VOICE/VOICE1.PAK" "$OLD"
make_text "$DATA/DATA/USER.DAT" 10 players-own-save
cp "$DATA/DATA/USER.DAT" "$E2E_WORK/user-before.dat"
snapshot "$INST/DATA/MUSIC.PAK"
snapshot "$INST/SETUP.INI"

# Disk 1 of the game: its check file, a movie folder and a read-only file.
mkdir -p "$E2E_CDROM/MOVIE"
echo disk1 >"$E2E_CDROM/SORA1.ID"
make_file "$E2E_CDROM/MOVIE/OP.MPG" 200000 31
make_file "$E2E_CDROM/MOVIE/ED.MPG" 150000 32
make_text "$E2E_CDROM/BONUS.TXT" 50 bonus
make_text "$E2E_CDROM/EXTRA.TXT" 50 extra
CDTIME='2018-08-08 08:08:08 UTC'
for f in "$E2E_CDROM"/MOVIE/* "$E2E_CDROM"/*.TXT; do stamp "$f" "$CDTIME"; done
chmod a-w "$E2E_CDROM/BONUS.TXT" "$E2E_CDROM/MOVIE/ED.MPG"

start_updater
expect_error_box UPDATE '更新内容:\r表nの修正'
expect_start_page
finish_from_start_page
run_driver

expect_file "$INST/DATA/README.TXT" "$SRC/README.TXT" "$NEW"
expect_file "$INST/DATA/SOUND.PAK" "$SRC/SOUND.PAK" "$NEW"
expect_untouched "$INST/DATA/MUSIC.PAK"
expect_file "$INST/DATA/VOICE/VOICE1.PAK" "$SRC/VOICE1.PAK" "$NEW"
expect_absent "$INST/DATA/VOICE/VOICE2.PAK"
expect_same_bytes "$DATA/DATA/USER.DAT" "$E2E_WORK/user-before.dat"
expect_file "$DATA/DATA/CONFIG.DAT" "$SRC/CONFIG.DAT" "$NEW"
expect_file "$INST/DATA/PATCH1.DAT" "$SRC/PATCH1.DAT" "$NEW"
expect_absent "$INST/DATA/PATCH2.DAT"
expect_absent "$INST/DATA/USER.DAT"
# Copies keep the disk's write times. A file copied as part of a folder
# keeps its read-only flag; a single copied file loses it.
for f in MOVIE/OP.MPG MOVIE/ED.MPG BONUS.TXT; do
  expect_write_time "$INST/$f" "$CDTIME"
  expect_same_bytes "$INST/$f" "$E2E_CDROM/$f"
done
expect_read_only "$INST/MOVIE/ED.MPG" yes
expect_read_only "$INST/MOVIE/OP.MPG" no
expect_read_only "$INST/BONUS.TXT" no
expect_absent "$INST/EXTRA.TXT"
expect_untouched "$INST/SETUP.INI"
expect_no_temp_manifest
