# Authenticode signing with the operator's code-signing certificate
# (osslsigncode, SHA-256), shared by the shipped folder (scripts/ship-dist.sh)
# and the installer (scripts/make-installer.sh). Source it, set the settings,
# then sign file by file:
#   codesign_cert=FILE codesign_key=FILE codesign_password_file=FILE \
#   codesign_timestamp_url=URL codesign_ca=FILE      (all but the cert optional)
#   codesign_file <file> [<description>]    signs in place; non-zero on failure
#   codesign_subject                        the certificate's subject, one line

codesign_cert=${codesign_cert:-} codesign_key=${codesign_key:-}
codesign_password_file=${codesign_password_file:-}
codesign_timestamp_url=${codesign_timestamp_url:-} codesign_ca=${codesign_ca:-}

codesign_file() {  # <file> [<description>]
  local file=$1 name=${2:-Lumora} credentials=() stamp=() check=() result
  command -v osslsigncode >/dev/null ||
    { echo "codesign: osslsigncode is not installed (scripts/setup.sh installs it)" >&2; return 1; }
  case $codesign_cert in
    *.pfx | *.p12 | *.PFX | *.P12) credentials=(-pkcs12 "$codesign_cert") ;;
    *)
      [ -n "$codesign_key" ] ||
        { echo "codesign: no key given for the certificate $codesign_cert" >&2; return 2; }
      credentials=(-certs "$codesign_cert" -key "$codesign_key") ;;
  esac
  [ -n "$codesign_password_file" ] && credentials+=(-readpass "$codesign_password_file")
  [ -n "$codesign_timestamp_url" ] && stamp=(-ts "$codesign_timestamp_url")
  rm -f "$file.signed"
  if ! osslsigncode sign "${credentials[@]}" "${stamp[@]}" -h sha256 -n "$name" \
      -in "$file" -out "$file.signed" >"$file.sign.log" 2>&1; then
    cat "$file.sign.log" >&2
    echo "codesign: signing $(basename "$file") failed" >&2
    rm -f "$file.signed" "$file.sign.log"
    return 1
  fi
  rm -f "$file.sign.log"
  mv "$file.signed" "$file"
  if [ -n "$codesign_ca" ]; then
    check=(-CAfile "$codesign_ca")
    [ -n "$codesign_timestamp_url" ] && check+=(-TSA-CAfile "$codesign_ca")
    if ! result=$(osslsigncode verify "${check[@]}" -in "$file" 2>&1); then
      echo "$result" >&2
      echo "codesign: the signature of $(basename "$file") is not accepted against $codesign_ca" >&2
      return 1
    fi
  fi
}

codesign_subject() {
  local subject
  subject=$(openssl x509 -noout -subject -nameopt oneline -in "$codesign_cert" 2>/dev/null ||
            openssl x509 -noout -subject -nameopt oneline -inform DER -in "$codesign_cert" 2>/dev/null ||
            echo "$codesign_cert")
  echo "${subject#subject=}"
}
