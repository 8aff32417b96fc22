# A write that fails in the middle of the update: the files before it stay
# written, the failed target is untouched, later entries are not written,
# and the run ends with the write-failure box, the interruption box and 0.
# First the target is held open by another program, then a directory is in
# its way.

install_game 1
SRC=$E2E_WORK/src
NEW='2021-03-04 05:06:07 UTC'
OLD='2019-05-01 10:00:00 UTC'
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=FIRST.DAT' 'UpdateFile01=SECOND.DAT' 'UpdateFile02=THIRD.DAT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/FIRST.DAT" 100 first
make_file "$SRC/SECOND.DAT" 500000 41
make_text "$SRC/THIRD.DAT" 100 third
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

failed_run() {
  start_updater
  expect_start_page
  step "press 1"
  expect_confirm_page
  step "press 1"
  expect_error_box "$WINDOW_TITLE" 'ファイルの書き込みに失敗しました' dialog
  expect_interrupted
  step "wait-exit u 0"
}

make_file "$INST/SECOND.DAT" 1000 42
stamp "$INST/SECOND.DAT" "$OLD"
snapshot "$INST/SECOND.DAT"
step "log SECOND.DAT held open without sharing"
step "lock $INST_WIN\\SECOND.DAT"
failed_run
run_driver
expect_file "$INST/FIRST.DAT" "$SRC/FIRST.DAT" "$NEW"
expect_untouched "$INST/SECOND.DAT"
expect_absent "$INST/THIRD.DAT"
expect_listing "$INST" SETUP.INI FIRST.DAT SECOND.DAT

rm -f "$INST/FIRST.DAT" "$INST/SECOND.DAT"
mkdir "$INST/SECOND.DAT"
touch "$INST/SECOND.DAT/inside"
step "log a directory named SECOND.DAT"
failed_run
run_driver
expect_file "$INST/FIRST.DAT" "$SRC/FIRST.DAT" "$NEW"
expect_listing "$INST/SECOND.DAT" inside
expect_absent "$INST/THIRD.DAT"
expect_listing "$INST" SETUP.INI FIRST.DAT SECOND.DAT
expect_no_temp_manifest
