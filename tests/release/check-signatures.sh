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

# The certificates the PKCS#12 file carries (a self-signed one is its own
# root), beside the roots the system trusts.
cafile=$work/roots.pem
if ! timeout 60 openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -out "$work/given.pem" \
     2>"$work/openssl.log"; then
  cat "$work/openssl.log"
  echo "FAIL  cannot read the certificates of $pkcs12"
  exit 1
fi
cat "$work/given.pem" /etc/ssl/certs/ca-certificates.crt >"$cafile" 2>/dev/null

verify() {  # FILE LOG
  timeout 60 osslsigncode verify -CAfile "$cafile" -in "$1" >"$2" 2>&1
}

for file in "$@"; do
  name=$(basename "$file")
  log=$work/$name.verify.log
  if ! verify "$file" "$log"; then
    echo "FAIL  $name: the signature does not verify:"
    grep -v '^$' "$log" | tail -8 | sed 's/^/      /'
    status=1
  elif ! grep -q 'Message digest algorithm *: SHA256' "$log"; then
    echo "FAIL  $name: not signed with SHA-256: $(grep -i 'digest algorithm' "$log" | head -n1)"
    status=1
  else
    echo "ok    $name: signature verifies ($(grep -m1 'Subject:' "$log" | sed 's/^[[:space:]]*//'))"
  fi
done

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
elif verify "$tampered" "$work/tampered.log"; then
  echo "FAIL  $(basename "$1") with one byte changed after signing still verifies"
  status=1
else
  echo "ok    $(basename "$1") with one byte changed after signing fails verification"
fi
[ $status -eq 0 ] && rm -rf -- "$work"
exit $status
