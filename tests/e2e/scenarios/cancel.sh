# Abort on the start page and on the confirm page, by the button, by Esc and
# by the close box: the dialog ends, start-up reports the interruption, the
# exit code is 0 and nothing is written. Enter acts as the next button.

install_game 1
SRC=$E2E_WORK/src
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 20 readme
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1

step "log abort on the start page"
start_updater
expect_start_page
step "press 2"
expect_interrupted
step "wait-exit u 0"

step "log abort on the confirm page"
start_updater
expect_start_page
step "press 1"
expect_confirm_page
step "press 2"
expect_interrupted
step "wait-exit u 0"

step "log Esc on the start page"
start_updater
expect_start_page
step "key escape"
expect_interrupted
step "wait-exit u 0"

step "log Enter on the start page, then the close box on the confirm page"
start_updater
expect_start_page
step "key enter"
expect_confirm_page
step "close"
expect_interrupted
step "wait-exit u 0"
run_driver

expect_listing "$INST" SETUP.INI
expect_no_temp_manifest
