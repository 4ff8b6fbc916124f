#!/usr/bin/env bash
# Regenerates the committed test certificates (DER) of this directory with the
# openssl command. The private keys live in a temporary directory and are
# thrown away; only the certificates are kept. Run from anywhere.
set -euo pipefail
out=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

cat >ext.cnf <<'CNF'
[v3]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = email:erika@beispiel.example
certificatePolicies = 1.3.36.8.1.1
CNF

days=3650
subj='/C=DE/O=Beispiel AG/CN=Erika Mustermann/emailAddress=erika@beispiel.example'

# Version 1: a request signed without extensions.
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out rsa1024.key 2>/dev/null
openssl req -new -key rsa1024.key -subj "$subj" -out v1.csr
openssl x509 -req -in v1.csr -signkey rsa1024.key -days $days -set_serial 0x0203 \
    -outform DER -out "$out/v1_rsa1024.der" 2>/dev/null

# Version 3 with extensions, one per key type.
v3() { # key-file serial output
    openssl req -new -key "$1" -subj "$subj" -out v3.csr
    openssl x509 -req -in v3.csr -signkey "$1" -days $days -set_serial "$2" \
        -extfile ext.cnf -extensions v3 -outform DER -out "$out/$3" 2>/dev/null
}
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2048.key 2>/dev/null
v3 rsa2048.key 0x00B12C v3_rsa2048.der
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:4096 -out rsa4096.key 2>/dev/null
v3 rsa4096.key 0x7F0102030405060708 v3_rsa4096.der
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.key 2>/dev/null
v3 ec.key 0x8001 v3_ec_p256.der
openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:2048 -out dsa.param 2>/dev/null
openssl genpkey -paramfile dsa.param -out dsa.key 2>/dev/null
v3 dsa.key 0x42 v3_dsa2048.der
