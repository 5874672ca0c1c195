#include "test_authority.h"

#include <stdexcept>

namespace kvrtest {

namespace {

// P-256 keys: made in a moment, unlike RSA ones.
const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                          "-nodes"};

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

void TestAuthority::openssl(const std::vector<std::string>& args) const {
  RunOptions options;
  options.cwd = dir_.path();
  const RunResult result = runTool(OPENSSL_COMMAND, args, options);
  if (result.status != 0) {
    throw std::runtime_error("openssl " + args.front() + " failed: " + result.err);
  }
}

TestAuthority::TestAuthority() {
  root_ = {dir_.file("root.pem"), dir_.file("root.key")};
  openssl(joined({"req", "-x509"}, joined(kNewKey, {"-keyout", root_.key, "-out", root_.certificate,
                                                    "-subj", "/CN=Kovra Test Root", "-days", "2"})));
}

IssuedCertificate TestAuthority::issue(const std::string& name, const std::string& commonName,
                                       const std::string& altNames, int days) const {
  const IssuedCertificate issued{dir_.file(name + ".pem"), dir_.file(name + ".key")};
  const std::string request = dir_.file(name + ".csr");
  openssl(joined({"req", "-new"},
                 joined(kNewKey, {"-keyout", issued.key, "-out", request, "-subj", "/CN=" + commonName})));
  const std::string extensions = dir_.file(name + ".ext");
  dir_.write(name + ".ext", altNames.empty() ? std::string("basicConstraints=CA:FALSE\n")
                                             : "subjectAltName=" + altNames + "\n");
  openssl({"x509", "-req", "-in", request, "-CA", root_.certificate, "-CAkey", root_.key,
           "-CAcreateserial", "-days", std::to_string(days), "-out", issued.certificate, "-extfile",
           extensions});
  return issued;
}

}  // namespace kvrtest
