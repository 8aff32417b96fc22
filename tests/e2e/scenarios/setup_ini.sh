# The installed SETUP.INI: missing (a message naming it), a required key
# missing, a count over its bound. Each ends the updater with 0 and nothing
# written, without the interruption message.

install_game 1
SRC=$E2E_WORK/src
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 20 readme
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

rm "$INST/SETUP.INI"
step "log no SETUP.INI"
start_updater
expect_error_box UPDATE 'インストール先に "SETUP.INI" ファイルが見つかりません'
step "wait-exit u 0"
run_driver
expect_listing "$INST"

setup_ini "$INST/SETUP.INI"
sed -i '/^UninstExe=/d' "$INST/SETUP.INI"
step "log SETUP.INI without UninstExe"
start_updater
expect_error_box TORVANEK 'SETUP.INI : UninstExe キーが存在しません'
step "wait-exit u 0"
run_driver

setup_ini "$INST/SETUP.INI"
sed -i 's/^InstallSelects=2/InstallSelects=4/' "$INST/SETUP.INI"
step "log SETUP.INI with four selections"
start_updater
expect_error_box TORVANEK 'SETUP.INI : InstallSelect オーバー'
step "wait-exit u 0"
run_driver

expect_listing "$INST" SETUP.INI
expect_no_temp_manifest
