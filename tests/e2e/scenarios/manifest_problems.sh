# Manifests the updater refuses or finds nothing to do in: a required key
# missing (reported by the profile reader, caption TORVANEK), no entry keys
# at all (an internal error that ends the update), and entries that all
# belong to another install mode (a message, then the finished page).

install_game 1
SRC=$E2E_WORK/src

mkdir -p "$SRC/noclass"
manifest_setup | sed '/^GameClass=/d' | write_cp932 "$SRC/noclass/UPDATE.INI"
pack_updater "$E2E_WORK/noclass.exe" "$SRC/noclass/UPDATE.INI" || return 1
step "log GameClass missing"
start_updater "$E2E_WORK/noclass.exe"
expect_error_box TORVANEK 'SETUP : GameClass キーが存在しません'
step "wait-exit u 0"

mkdir -p "$SRC/nokeys"
{ manifest_setup; printf '%s\n' '[UPDATE]' 'UpdateFile01=README.TXT'; } | write_cp932 "$SRC/nokeys/UPDATE.INI"
make_text "$SRC/nokeys/README.TXT" 10 readme
pack_updater "$E2E_WORK/nokeys.exe" "$SRC/nokeys"/* || return 1
step "log no UpdateFile00 and no CopyFile00"
start_updater "$E2E_WORK/nokeys.exe"
expect_start_page
step "press 1"
step "press 1"
expect_error_box "$WINDOW_TITLE" "No 'UpdateFileXX' and 'CopyFileXX'" dialog
expect_interrupted
step "wait-exit u 0"

mkdir -p "$SRC/othermode"
{ manifest_setup; printf '%s\n' '[UPDATE]' 'UpdateFile00=2,README.TXT' 'CopyFile00=3,1:MOVIE'; } |
  write_cp932 "$SRC/othermode/UPDATE.INI"
make_text "$SRC/othermode/README.TXT" 10 readme
pack_updater "$E2E_WORK/othermode.exe" "$SRC/othermode"/* || return 1
step "log every entry for another install mode"
start_updater "$E2E_WORK/othermode.exe"
expect_start_page
step "press 1"
step "press 1"
expect_error_box "$WINDOW_TITLE" 'アップデートする必要のあるファイルはありません' dialog
expect_finished_page
step "press 1"
step "wait-exit u 1"
run_driver

expect_listing "$INST" SETUP.INI
expect_no_temp_manifest
