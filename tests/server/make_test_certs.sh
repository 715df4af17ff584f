#!/usr/bin/env bash
# make_test_certs.sh OUTDIR
# Makes the certificates of the local HTTPS test server: two independent
# certificate authorities, and for each a server certificate for the name
# localhost (Wine ignores IP-address names, so clients must use localhost).
#   ca.crt, ca.key                     the CA the test prefix trusts
#   server.crt, server.key             signed by it
#   untrusted-ca.crt, untrusted-ca.key a CA nobody trusts
#   untrusted-server.crt, .key         signed by that one
#   quorvel-sign.crt, quorvel-sign.key code signing for CN and O "Quorvel, LLC",
#                                      signed by the trusted CA
#   other-sign.crt, other-sign.key     code signing for "Other Publisher, Inc.",
#                                      signed by the trusted CA
#   case-, longer-, shorter-sign.*     code signing for names that come close to
#                                      "Quorvel, LLC" without being it, signed by
#                                      the trusted CA
#   stranger-sign.*                    code signing for "Quorvel, LLC", signed by
#                                      the untrusted CA
#   noeku-sign.*                       "Quorvel, LLC" by the trusted CA, for
#                                      server authentication only
#   expired-sign.*                     code signing for "Quorvel, LLC" by the
#                                      trusted CA, valid only in the past
# RSA 2048, SHA-256, valid from yesterday (so a clock a little behind still
# accepts them) for ten years. Does nothing when all files are there.
set -euo pipefail
out=${1:?usage: make_test_certs.sh OUTDIR}
files=(ca.crt ca.key server.crt server.key
       untrusted-ca.crt untrusted-ca.key untrusted-server.crt untrusted-server.key
       quorvel-sign.crt quorvel-sign.key other-sign.crt other-sign.key
       case-sign.crt case-sign.key longer-sign.crt longer-sign.key
       shorter-sign.crt shorter-sign.key stranger-sign.crt stranger-sign.key
       noeku-sign.crt noeku-sign.key expired-sign.crt expired-sign.key)

all_present() {
  local name
  for name in "${files[@]}"; do [ -s "$out/$name" ] || return 1; done
}
all_present && exit 0

mkdir -p "$out"
# Two callers at once (parallel tests) must not write over each other.
exec 9>"$out/.lock"
flock 9
all_present && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
start=$(date -u -d yesterday +%Y%m%d%H%M%SZ)
end=$(date -u -d 'yesterday +10 years' +%Y%m%d%H%M%SZ)

# make_pair PREFIX LABEL: writes PREFIXca.* and PREFIXserver.* into $work.
make_pair() {
  local prefix=$1 label=$2 dir=$work/$1state
  mkdir -p "$dir/new"
  : >"$dir/index.txt"
  openssl rand -hex 16 >"$dir/serial"
  cat >"$dir/ca.cnf" <<CNF
[ ca ]
default_ca = test_ca
[ test_ca ]
database = $dir/index.txt
new_certs_dir = $dir/new
serial = $dir/serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[ any_name ]
commonName = supplied
organizationName = optional
[ ca_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ server_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ sign_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ noeku_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
  local key
  for key in ca server; do
    openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/${prefix}$key.key" 2>/dev/null
  done
  openssl req -new -key "$work/${prefix}ca.key" -subj "/O=QuorvelAI tests/CN=QuorvelAI $label test CA" \
    -out "$dir/ca.csr"
  openssl ca -batch -notext -config "$dir/ca.cnf" -selfsign -keyfile "$work/${prefix}ca.key" \
    -in "$dir/ca.csr" -out "$work/${prefix}ca.crt" -startdate "$start" -enddate "$end" \
    -extensions ca_ext 2>/dev/null
  openssl req -new -key "$work/${prefix}server.key" -subj "/O=QuorvelAI tests/CN=localhost" \
    -out "$dir/server.csr"
  openssl ca -batch -notext -config "$dir/ca.cnf" -cert "$work/${prefix}ca.crt" \
    -keyfile "$work/${prefix}ca.key" -in "$dir/server.csr" -out "$work/${prefix}server.crt" \
    -startdate "$start" -enddate "$end" -extensions server_ext 2>/dev/null
}

# make_signer NAME PUBLISHER [CA_PREFIX EXTENSIONS START END]: a certificate
# NAME-sign.* for PUBLISHER (its CN and O), by default for code signing,
# issued by the trusted CA of make_pair "" and valid from $start to $end.
make_signer() {
  local name=$1 publisher=$2 ca=${3:-} ext=${4:-sign_ext} from=${5:-$start} to=${6:-$end}
  local dir=$work/${3:-}state
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/$name-sign.key" 2>/dev/null
  openssl req -new -key "$work/$name-sign.key" -subj "/O=$publisher/CN=$publisher" \
    -out "$dir/$name-sign.csr"
  openssl ca -batch -notext -config "$dir/ca.cnf" -cert "$work/${ca}ca.crt" -keyfile "$work/${ca}ca.key" \
    -in "$dir/$name-sign.csr" -out "$work/$name-sign.crt" \
    -startdate "$from" -enddate "$to" -extensions "$ext" 2>/dev/null
}

make_pair "" trusted
make_pair untrusted- untrusted
make_signer quorvel "Quorvel, LLC"
make_signer other "Other Publisher, Inc."
make_signer case "quorvel, llc"
make_signer longer "Quorvel, LLC Imposter"
make_signer shorter "Quorvel"
make_signer stranger "Quorvel, LLC" untrusted-
make_signer noeku "Quorvel, LLC" "" noeku_ext
make_signer expired "Quorvel, LLC" "" sign_ext "$(date -u -d '-3 years' +%Y%m%d%H%M%SZ)" \
  "$(date -u -d '-1 year' +%Y%m%d%H%M%SZ)"
for name in "${files[@]}"; do
  cp "$work/$name" "$out/.$name.tmp"
  mv -f "$out/.$name.tmp" "$out/$name"
done
