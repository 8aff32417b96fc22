# The game's registry record decides whether it is installed: without the
# record, or without InstMode, the updater names the manifest's title and
# ends with 0; a record without DataPath and InstAdd still counts.

install_game 1
SRC=$E2E_WORK/src
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 20 readme
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

step "log no record at all"
step "reg-clear $GAME_KEY"
start_updater
expect_error_box UPDATE '「ソラの港 更新」がインストールされていません'
step "wait-exit u 0"

step "log a record without InstMode"
step "reg-sz $GAME_KEY InstPath $INST_WIN"
start_updater
expect_error_box UPDATE '「ソラの港 更新」がインストールされていません'
step "wait-exit u 0"

step "log InstPath and InstMode only: installed"
step "reg-dword $GAME_KEY InstMode 1"
start_updater
expect_start_page
step "press 2"
expect_interrupted
step "wait-exit u 0"
run_driver

expect_listing "$INST" SETUP.INI
expect_no_temp_manifest
