# Installed files the player or the game marked hidden, or hidden and
# system, get the update's bytes and the entry's time and keep their
# attributes; a plain one ends with the archive flag alone, as any new
# content gives it. Wine's ReplaceFileA drops the attributes, so this shows
# that the updater sets them again; that ownership and security are kept as
# well only Windows can show.

install_game 1
SRC=$E2E_WORK/src
OLD='2019-05-01 10:00:00 UTC'
NEW='2021-03-04 05:06:07 UTC'
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=HIDDEN.DAT' 'UpdateFile01=SYSTEM.DAT' 'UpdateFile02=PLAIN.DAT'
} | write_cp932 "$SRC/UPDATE.INI"
make_file "$SRC/HIDDEN.DAT" 20000 61
make_text "$SRC/SYSTEM.DAT" 200 system
make_text "$SRC/PLAIN.DAT" 100 plain
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

make_file "$INST/HIDDEN.DAT" 1000 62
make_file "$INST/SYSTEM.DAT" 3000 63
make_file "$INST/PLAIN.DAT" 10 64
for f in HIDDEN SYSTEM PLAIN; do stamp "$INST/$f.DAT" "$OLD"; done
step "set-attributes 2 $INST_WIN\\HIDDEN.DAT"
step "set-attributes 6 $INST_WIN\\SYSTEM.DAT"
# Wine shows every file it did not make itself with the archive flag.
step "expect-attributes 22 $INST_WIN\\HIDDEN.DAT"
step "expect-attributes 26 $INST_WIN\\SYSTEM.DAT"
start_updater
expect_start_page
finish_from_start_page
step "expect-attributes 22 $INST_WIN\\HIDDEN.DAT"
step "expect-attributes 26 $INST_WIN\\SYSTEM.DAT"
step "expect-attributes 20 $INST_WIN\\PLAIN.DAT"
run_driver

expect_file "$INST/HIDDEN.DAT" "$SRC/HIDDEN.DAT" "$NEW"
expect_file "$INST/SYSTEM.DAT" "$SRC/SYSTEM.DAT" "$NEW"
expect_file "$INST/PLAIN.DAT" "$SRC/PLAIN.DAT" "$NEW"
expect_listing "$INST" SETUP.INI HIDDEN.DAT SYSTEM.DAT PLAIN.DAT
expect_no_temp_manifest
