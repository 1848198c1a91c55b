#pragma once

#include <string>
#include <string_view>

// Signs `text` with a P-256 private key in PEM (a file of tests/keys), as an
// operator signs a release manifest: ECDSA over its SHA-256, r then s, 32
// bytes each, into *signature. Native builds only (OpenSSL's libcrypto).
bool SignForTesting(std::string_view text, const std::string& privateKeyPemFile,
                    std::string* signature);
