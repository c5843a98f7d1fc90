#!/usr/bin/env bash
# Signs Windows programs and DLLs in place with an Authenticode signature
# (osslsigncode, SHA-256), or makes a throwaway certificate to try that with.
#
#   sign.sh --pkcs12 FILE --password-file FILE [--timestamp URL] [--time SECONDS]
#           [--copy-to COPY] FILE...
#   sign.sh --verify --pkcs12 FILE --password-file FILE FILE...
#   sign.sh --new-test-certificate DIR
#
# --timestamp names an RFC 3161 time-stamp server: the signature then stays
# valid after the certificate expires. --time is the signing time written into
# the signature (seconds since 1970; the build gives the commit's), so that
# one certificate signs one commit's files to the same bytes; it is left out
# when a time-stamp server gives the time. --copy-to keeps a copy of the signed
# file: the uninstaller is signed in a temporary file that makensis then packs.
#
# --verify checks instead that each FILE carries a SHA-256 signature that
# verifies, by the certificate of the PKCS#12 file (a self-signed one is its
# own root) or a root this machine trusts: a line "ok" or "FAIL" a file, and
# exit status 1 if any failed.
#
# --new-test-certificate makes DIR/test.p12 (password in DIR/password) with a
# self-signed code-signing certificate (DIR/certificate.pem, which verifies
# what it signed). It is for tests only: nobody else trusts it.
set -euo pipefail

if [ "${1:-}" = --new-test-certificate ]; then
  [ $# -eq 2 ] || { echo "usage: $0 --new-test-certificate DIR" >&2; exit 2; }
  dir=$2
  mkdir -p "$dir"
  (umask 077 && head -c 18 /dev/urandom | base64 >"$dir/password")
  timeout 60 openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/certificate.pem" \
    -days 30 -subj "/CN=Tavrilen focuser test signing (throwaway)" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  timeout 60 openssl pkcs12 -export -inkey "$dir/key.pem" -in "$dir/certificate.pem" \
    -out "$dir/test.p12" -passout "file:$dir/password"
  rm -f "$dir/key.pem"
  echo "sign: throwaway certificate $dir/test.p12"
  exit 0
fi

pkcs12= password_file= timestamp= time= copy= verify=no
while [ $# -gt 0 ]; do
  case $1 in
    --verify) verify=yes; shift ;;
    --pkcs12) pkcs12=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp) timestamp=$2; shift 2 ;;
    --time) time=$2; shift 2 ;;
    --copy-to) copy=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "sign: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
if [ -z "$pkcs12" ] || [ -z "$password_file" ] || [ $# -eq 0 ]; then
  echo "usage: $0 --pkcs12 FILE --password-file FILE [--timestamp URL] [--time SECONDS] [--copy-to COPY] FILE..." >&2
  exit 2
fi
[ -r "$pkcs12" ] || { echo "sign: cannot read the certificate $pkcs12" >&2; exit 1; }
[ -r "$password_file" ] || { echo "sign: cannot read the password file $password_file" >&2; exit 1; }

if [ "$verify" = yes ]; then
  work=$(mktemp -d "${TMPDIR:-/tmp}/focuser-verify.XXXXXX")
  trap 'rm -rf -- "$work"' EXIT
  if ! timeout 60 openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -nokeys -out "$work/given.pem" \
       2>"$work/openssl.log"; then
    cat "$work/openssl.log"
    echo "FAIL  cannot read the certificates of $pkcs12"
    exit 1
  fi
  cat "$work/given.pem" /etc/ssl/certs/ca-certificates.crt >"$work/roots.pem" 2>/dev/null || true
  status=0
  for file in "$@"; do
    name=$(basename "$file")
    log=$work/verify.log
    if ! timeout 60 osslsigncode verify -CAfile "$work/roots.pem" -in "$file" >"$log" 2>&1; then
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
  exit $status
fi

options=(-pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "Tavrilen Astrograph Focuser driver")
if [ -n "$timestamp" ]; then
  options+=(-ts "$timestamp")
elif [ -n "$time" ]; then
  options+=(-time "$time")
fi

for file in "$@"; do
  signed=$file.signing
  rm -f "$signed"
  # A time-stamp server may be slow, never endless.
  if ! timeout 120 osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$signed.log" 2>&1; then
    cat "$signed.log" >&2
    rm -f "$signed" "$signed.log"
    echo "sign: could not sign $file" >&2
    exit 1
  fi
  rm -f "$signed.log"
  mv -f "$signed" "$file"
  echo "sign: signed $file"
  [ -z "$copy" ] || cp -f "$file" "$copy"
done
