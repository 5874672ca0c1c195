// A certificate authority made at test time with the openssl command, in a
// temporary folder: no key material is ever committed. It issues the
// certificates the TLS tests need, each a PEM certificate with its key.
#pragma once

#include <string>

#include "process.h"

namespace kvrtest {

struct IssuedCertificate {
  std::string certificate;  // path of the PEM certificate
  std::string key;          // path of its PEM private key
};

class TestAuthority {
 public:
  // Makes the authority's own root. Throws std::runtime_error when openssl
  // fails.
  TestAuthority();

  // The PEM file of the root, for KOVRA_TLS_CA and --tls-client-ca.
  const std::string& root() const { return root_.certificate; }

  // A certificate for subject CN=commonName with the given subjectAltName
  // ("DNS:localhost,IP:127.0.0.1"; empty: none), valid from now for days
  // days (a negative number makes one that has expired).
  IssuedCertificate issue(const std::string& name, const std::string& commonName,
                          const std::string& altNames, int days = 2) const;

  // Writes a file into the authority's folder; its path.
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  void openssl(const std::vector<std::string>& args) const;

  TempDir dir_;
  IssuedCertificate root_;
};

}  // namespace kvrtest
