#!/usr/bin/python3
"""A generic PKCS #11 client (PyKCS11) against the module: signs with the
signature key and decrypts with the encryption key after C_Login. Writes the
signed data, the signature and the certificate into OUTDIR for checking with
OpenSSL; exits non-zero with a message on the first thing that is wrong."""

import os
import secrets
import sys

import PyKCS11

module, outdir, pin = sys.argv[1], sys.argv[2], sys.argv[3]
lib = PyKCS11.PyKCS11Lib()
lib.load(module)
slots = lib.getSlotList(tokenPresent=True)
if len(slots) != 1:
    sys.exit("slots with a token: %r" % slots)
session = lib.openSession(slots[0])
session.login(pin)


def find(cls, label):
    found = session.findObjects([(PyKCS11.CKA_CLASS, cls), (PyKCS11.CKA_LABEL, label)])
    if len(found) != 1:
        sys.exit("%s %s: %d objects" % (cls, label, len(found)))
    return found[0]


def value(obj, attribute):
    return bytes(session.getAttributeValue(obj, [attribute], allAsBinary=True)[0])


data = b"signed by the card through PyKCS11"
signature = bytes(session.sign(find(PyKCS11.CKO_PRIVATE_KEY, "Signature"), data,
                               PyKCS11.Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS)))
for name, content in (("data", data), ("signature", signature),
                      ("cert.der", value(find(PyKCS11.CKO_CERTIFICATE, "Signature"),
                                         PyKCS11.CKA_VALUE))):
    with open(os.path.join(outdir, name), "wb") as out:
        out.write(content)

# PKCS #1 v1.5 encryption by hand with the public key object's numbers.
public = find(PyKCS11.CKO_PUBLIC_KEY, "Encryption")
n = int.from_bytes(value(public, PyKCS11.CKA_MODULUS), "big")
e = int.from_bytes(value(public, PyKCS11.CKA_PUBLIC_EXPONENT), "big")
k = (n.bit_length() + 7) // 8
message = b"a session key of thirty-two byte"
padding = bytes(secrets.choice(range(1, 256)) for _ in range(k - 3 - len(message)))
block = int.from_bytes(b"\x00\x02" + padding + b"\x00" + message, "big")
cryptogram = pow(block, e, n).to_bytes(k, "big")
plain = bytes(session.decrypt(find(PyKCS11.CKO_PRIVATE_KEY, "Encryption"), cryptogram,
                              PyKCS11.Mechanism(PyKCS11.CKM_RSA_PKCS)))
if plain != message:
    sys.exit("decrypted %r" % plain)

# The SigG key asks for its own PIN before each signature.
try:
    session.sign(find(PyKCS11.CKO_PRIVATE_KEY, "SigG"), data,
                 PyKCS11.Mechanism(PyKCS11.CKM_SHA256_RSA_PKCS))
    sys.exit("the SigG key signed without its PIN")
except PyKCS11.PyKCS11Error as error:
    if error.value != PyKCS11.CKR_USER_NOT_LOGGED_IN:
        sys.exit("SigG without its PIN: %s" % error)

session.logout()
session.closeSession()
print("ok")
