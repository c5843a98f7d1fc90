#!/usr/bin/env bash
# Checks the Authenticode signatures of signed files: each verifies (SHA-256,
# by the certificate of PKCS12 or a root this machine trusts), and a copy of
# the first file with one byte changed after signing does not.
#
#   check-signatures.sh PKCS12 PASSWORD-FILE WORK FILE...
#
# WORK is a scratch folder (emptied first).
set -u
if [ $# -lt 4 ]; then
  echo "usage: $0 PKCS12 PASSWORD-FILE WORK FILE..." >&2
  exit 2
fi
pkcs12=$1 password_file=$2 work=$3
shift 3
rm -rf -- "$work"
mkdir -p "$work"
status=0

sign=$(cd "$(dirname "$0")/../../scripts" && pwd)/sign.sh
verify() {  # FILE...
  "$sign" --verify --pkcs12 "$pkcs12" --password-file "$password_file" "$@"
}
verify "$@" || status=1

# One byte of the code changed after signing: the hash no longer matches.
# (The middle of the file is code or data, never the checksum or the signature.)
tampered=$work/tampered-$(basename "$1")
cp "$1" "$tampered"
middle=$(( $(stat -c %s "$tampered") / 3 ))
byte=$(od -An -tu1 -j "$middle" -N1 "$tampered" | tr -d ' ')
printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
  dd of="$tampered" bs=1 seek="$middle" conv=notrunc status=none
if cmp -s "$1" "$tampered"; then
  echo "FAIL  could not change a byte of $tampered"
  status=1
elif verify "$tampered" >"$work/tampered.log"; then
  echo "FAIL  $(basename "$1") with one byte changed after signing still verifies"
  status=1
else
  echo "ok    $(basename "$1") with one byte changed after signing fails verification"
fi
[ $status -eq 0 ] && rm -rf -- "$work"
exit $status
