#!/usr/bin/env bash
# A publisher's release script: from a folder of update files to a signed
# updater with the game's icon and version information, using the
# installed wz2 (apt install ./wz2_*.deb, or the zip on Windows).
#
#   examples/release.sh UPDATE_DIR SETUP_INI VERSION OUT_DIR
#
#   UPDATE_DIR  UPDATE.INI (code page 932, CR LF) and the files it names
#   SETUP_INI   the installed game's SETUP.INI, loaded as the updater loads it
#   VERSION     the updater's file version, 1 to 4 numbers (1.10.0.0)
#   OUT_DIR     gets UPDATE.WZ2, UPDATE.EXE, check.json and contents.json
#
# Environment: WZ2 (default: wz2 on PATH), ICON (the game's .ico),
# PRODUCT_NAME, COMPANY_NAME, DESCRIPTION, COPYRIGHT (UTF-8 texts with a
# code page 932 form), INST_MODE (default 1), ARCH (default i686), and
# SIGN_CERT with SIGN_KEY (PEM files) to sign with osslsigncode; without
# them UPDATE.EXE is left unsigned for signing elsewhere.
set -euo pipefail

[[ $# -eq 4 ]] || { sed -n '2,18p' "$0" >&2; exit 2; }
update=$1 setup=$2 version=$3 out=$4
wz2=${WZ2:-wz2}
mkdir -p "$out"

"$wz2" --version

# The same inputs always give the same archive, so it can be rebuilt and
# compared at any time.
"$wz2" pack -o "$out/UPDATE.WZ2" --level max "$update"

# The manifest, read as the updater reads it. The JSON report is kept with
# the release; the exit status stops the release on any finding.
status=0
"$wz2" check --json --strict --setup "$setup" --inst-mode "${INST_MODE:-1}" "$out/UPDATE.WZ2" \
  >"$out/check.json" || status=$?
if ((status != 0)); then
  "$wz2" check --strict --setup "$setup" --inst-mode "${INST_MODE:-1}" "$out/UPDATE.WZ2" >&2 || true
  echo "release: the manifest has findings (see $out/check.json)" >&2
  exit 1
fi

brand=(--version-info "FileVersion=$version" --version-info "ProductVersion=$version")
[[ -n ${ICON:-} ]] && brand+=(--icon "$ICON")
[[ -n ${PRODUCT_NAME:-} ]] && brand+=(--version-info "ProductName=$PRODUCT_NAME")
[[ -n ${COMPANY_NAME:-} ]] && brand+=(--version-info "CompanyName=$COMPANY_NAME")
[[ -n ${DESCRIPTION:-} ]] && brand+=(--version-info "FileDescription=$DESCRIPTION")
[[ -n ${COPYRIGHT:-} ]] && brand+=(--version-info "LegalCopyright=$COPYRIGHT")
brand+=(--version-info "OriginalFilename=UPDATE.EXE")

# The installed template of the architecture players run; a signature is
# added last, since it covers every byte build-exe writes.
unsigned=$out/UPDATE-unsigned.EXE
"$wz2" build-exe --arch "${ARCH:-i686}" --archive "$out/UPDATE.WZ2" -o "$unsigned" "${brand[@]}"
if [[ -n ${SIGN_CERT:-} ]]; then
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 \
    ${TIMESTAMP_URL:+-t "$TIMESTAMP_URL"} -in "$unsigned" -out "$out/UPDATE.EXE"
  rm -f "$unsigned"
else
  mv -f "$unsigned" "$out/UPDATE.EXE"
fi

"$wz2" list --json "$out/UPDATE.EXE" >"$out/contents.json"
echo "release: $out/UPDATE.EXE"
