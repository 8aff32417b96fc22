# The updater without an archive resource says so under the caption UPDATE
# and ends with 0.

start_updater "$E2E_BIN/updater-noarchive.exe"
expect_error_box UPDATE 'UPDATE.WZ2 not found'
step "wait-exit u 0"
run_driver
expect_no_temp_manifest
