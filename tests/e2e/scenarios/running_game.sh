# The running game: OK while it still runs shows the box again, Cancel ends
# the updater with 0 and no further message; OK after the game has ended
# goes on to the dialog. A window with the game's title but another class
# is not the game.

install_game 1
SRC=$E2E_WORK/src
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'UpdateFile00=README.TXT'
} | write_cp932 "$SRC/UPDATE.INI"
make_text "$SRC/README.TXT" 20 readme
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1
GAME=$(win_path "$E2E_BIN/e2e_testgame.exe")
RUNNING="「$GAME_TITLE」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] を、アップデートを中止する場合は [キャンセル] を押して下さい"

running_box() {
  step "wait-box u"
  step "expect-box-caption $WINDOW_TITLE"
  step "expect-box-text $RUNNING"
  step "expect-box-buttons 1,2"
  step "expect-box-icon no"
  step "expect-box-owner none"
}

step "log OK while the game runs, then Cancel"
step "start g $GAME $GAME_CLASS $GAME_TITLE"
step "wait-window g"
start_updater
running_box
step "answer-box 1"
running_box
step "answer-box 2"
step "wait-exit u 0"

step "log OK after the game has ended"
start_updater
running_box
step "kill g"
step "answer-box 1"
expect_start_page
step "press 2"
expect_interrupted
step "wait-exit u 0"

step "log the game's title under another class"
step "start h $GAME OtherWindow $GAME_TITLE"
step "wait-window h"
start_updater
expect_start_page
step "press 2"
expect_interrupted
step "wait-exit u 0"
step "kill h"
run_driver

expect_listing "$INST" SETUP.INI
expect_no_temp_manifest
