#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "foundation/Value.h"

namespace quenbril::test {

/// Certificates made with the openssl command in a temporary folder: a certificate authority,
/// a certificate it signs for localhost and 127.0.0.1, an expired one it signed, and a
/// self-signed one for the same names. `keyType` is an openssl -newkey argument.
class TLSTestCertificates {
  public:
    explicit TLSTestCertificates(
        const std::string& keyType = "ec -pkeyopt ec_paramgen_curve:prime256v1") {
        char pattern[] = "/tmp/quenbril-tls-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        const std::string names = "subjectAltName=DNS:localhost,IP:127.0.0.1";
        write("ca.cnf",
              "[ca]\ndefault_ca=own\n[own]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n"
              "default_md=sha256\npolicy=any\ncopy_extensions=copy\n[any]\ncommonName=supplied\n");
        write("index.txt", "");
        write("serial", "1000\n");
        ok_ = run("openssl req -x509 -newkey " + keyType +
                  " -nodes -keyout ca.key -out ca.pem -days 30 -subj '/CN=Quenbril Test CA'") &&
              run("openssl req -newkey " + keyType +
                  " -nodes -keyout server.key -out server.csr -subj /CN=localhost -addext '" +
                  names + "'") &&
              run("openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial "
                  "-out server.pem -days 30 -copy_extensions copy") &&
              run("openssl req -newkey " + keyType +
                  " -nodes -keyout expired.key -out expired.csr -subj /CN=localhost -addext '" +
                  names + "'") &&
              run("openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr "
                  "-out expired.pem -notext -startdate 20200101000000Z -enddate "
                  "20200102000000Z") &&
              run("openssl req -x509 -newkey " + keyType +
                  " -nodes -keyout self.key -out self.pem -days 30 -subj /CN=localhost -addext '" +
                  names + "'");
    }
    ~TLSTestCertificates() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TLSTestCertificates(const TLSTestCertificates&) = delete;
    TLSTestCertificates& operator=(const TLSTestCertificates&) = delete;

    bool ok() const { return ok_; }
    std::string caFile() const { return dir_ + "/ca.pem"; }
    Bytes ca() const { return read("ca.pem"); }
    /// A certificate and its key in one PEM blob, as the settings take an identity.
    Bytes identity(const std::string& name) const {
        Bytes out = read(name + ".pem");
        Bytes key = read(name + ".key");
        out.insert(out.end(), key.begin(), key.end());
        return out;
    }

  private:
    bool run(const std::string& command) const {
        std::string line = "cd '" + dir_ + "' && " + command + " >/dev/null 2>&1";
        return std::system(line.c_str()) == 0;
    }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ + "/" + name) << text;
    }
    Bytes read(const std::string& name) const {
        std::ifstream in(dir_ + "/" + name, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string dir_;
    bool ok_ = false;
};

}  // namespace quenbril::test
