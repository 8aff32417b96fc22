# The updater that CMake's wz2_add_updater made from the demo's update runs:
# it shows the update's message and the start page for the installed demo
# game, and cancelling there ends it with 0 and nothing written.

rm -rf "$E2E_C/Games" "$E2E_C/GameData"
HOSHI=$E2E_C/Games/Hoshifuru
HOSHI_TITLE='星降る港 アップデータ 1.10'
mkdir -p "$HOSHI" "$E2E_C/GameData/Hoshifuru"
"$E2E_SRC/scripts/to-cp932" "$E2E_SRC/examples/demo/game/SETUP.INI" "$HOSHI"
snapshot "$HOSHI/SETUP.INI"
install_record 'Software\Sakuragi\Hoshifuru' 'C:\Games\Hoshifuru' 'C:\GameData\Hoshifuru' 1

start_updater "$E2E_BIN/e2e_cmake_updater.exe"
expect_error_box UPDATE '「星降る港」Ver1.10 へのアップデートです。\r効果音とシナリオを差し替え、ムービーを追加します。'
step "wait-dialog u"
step "expect-caption $HOSHI_TITLE"
step "expect-info 「星降る港」のアップデートを開始します"
step "press 2"
expect_error_box "$HOSHI_TITLE" 'アップデートが中断されました'
step "wait-exit u 0"
run_driver

expect_listing "$HOSHI" SETUP.INI
expect_untouched "$HOSHI/SETUP.INI"
expect_no_temp_manifest
