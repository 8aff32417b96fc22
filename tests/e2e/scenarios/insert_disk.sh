# The CD-ROM search: without the disk's check file the updater asks for the
# disk, again after OK while it is still missing; once the file is there OK
# finds it and the copy goes on. Cancel in the prompt ends the update.

install_game 1
SRC=$E2E_WORK/src
{
  manifest_setup
  printf '%s\n' '[UPDATE]' 'CopyFile00=1:MOVIE'
} | write_cp932 "$SRC/UPDATE.INI"
pack_updater "$E2E_WORK/update.exe" "$SRC"/* || return 1
mkdir -p "$E2E_CDROM/MOVIE"
make_file "$E2E_CDROM/MOVIE/OP.MPG" 100000 51
PROMPT="ＣＤ－ＲＯＭドライブに「$GAME_TITLE」ディスク 1 を入れて下さい"

prompt_box() {
  step "wait-box u"
  step "expect-box-caption $WINDOW_TITLE"
  step "expect-box-text $PROMPT"
  step "expect-box-buttons 1,2"
  step "expect-box-icon no"
  step "expect-box-owner dialog"
}

step "log Cancel in the prompt"
start_updater
expect_start_page
step "press 1"
step "press 1"
prompt_box
step "answer-box 2"
expect_interrupted
step "wait-exit u 0"

step "log OK without the disk, then OK with it"
start_updater
expect_start_page
step "press 1"
step "press 1"
prompt_box
step "answer-box 1"
prompt_box
step "write-file $(win_path "$E2E_CDROM/SORA1.ID")"
step "answer-box 1"
expect_finished_page
step "press 1"
step "wait-exit u 1"
run_driver

expect_same_bytes "$INST/MOVIE/OP.MPG" "$E2E_CDROM/MOVIE/OP.MPG"
expect_no_temp_manifest
