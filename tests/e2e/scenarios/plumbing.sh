# The harness itself, on the stand-in dialog (tests/e2e/testdialog.cpp): the
# driver reads an ownerless box, the dialog's caption, text and buttons, an
# owned OK/Cancel box whose text holds trail bytes 0x5C and a CR, presses
# through, and sees exit code 1; the file written in the prefix carries the
# stamped times. When this fails, the updater's scenarios prove nothing.

OUT='C:\e2e-plumbing.txt'
rm -f "$E2E_C/e2e-plumbing.txt"
step "start u $(win_path "$E2E_BIN/e2e_testdialog.exe") $OUT テスト アップデータ "
expect_error_box UPDATE 'はじめ'
step "wait-dialog u"
step "expect-caption テスト アップデータ "
step "expect-info 「テスト」のアップデートを開始します"
step "expect-button 4 0 戻る"
step "expect-button 1 1 次へ"
step "press 1"
step "wait-box u"
step "expect-box-text ソ表\\\\n\\r二行目"
step "expect-box-buttons 1,2"
step "expect-box-icon no"
step "expect-box-owner dialog"
step "answer-box 1"
step "expect-info アップデートは完了しました"
step "expect-button 1 1 完了"
step "expect-button 2 0 中止"
step "press 1"
step "wait-exit u 1"
run_driver
printf 'done\r\n' >"$E2E_WORK/done.txt"
expect_file "$E2E_C/e2e-plumbing.txt" "$E2E_WORK/done.txt" '2001-02-03 04:05:06 UTC'
