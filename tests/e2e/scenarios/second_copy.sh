# A second copy started while the first shows its dialog shows the start-up
# message, brings the first copy's dialog forward and ends with 0, without
# disturbing the first copy, whose update then completes.

install_game 1
SRC=$E2E_WORK/src
NEW='2021-03-04 05:06:07 UTC'
{
  manifest_setup 'UpdateMessage=二つ目のテスト'
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT' 'UpdateFile01=u,PATCH1.DAT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 20 readme
make_text "$SRC/PATCH1.DAT" 200 patch
for f in "$SRC"/*; do stamp "$f" "$NEW"; done
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

start_updater
expect_error_box UPDATE '二つ目のテスト'
expect_start_page
step "start v $(win_path "$E2E_WORK/update.exe")"
expect_error_box UPDATE '二つ目のテスト' none v
step "wait-exit v 0"
step "expect-foreground"
finish_from_start_page
run_driver

expect_file "$INST/README.TXT" "$SRC/README.TXT" "$NEW"
expect_file "$INST/PATCH1.DAT" "$SRC/PATCH1.DAT" "$NEW"
expect_no_temp_manifest
