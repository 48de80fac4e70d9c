/* Adds a certificate to the machine's trusted roots of the wine prefix it runs
   in, or takes it out again: what an administrator does on Windows with a
   company's own certification authority. Usage:
   trust_root add|remove <certificate.der> */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <wincrypt.h>

int main(int argc, char** argv) {
  static BYTE der[65536];
  FILE* file;
  DWORD size;
  HCERTSTORE store;
  PCCERT_CONTEXT certificate, found;
  int adding, done;
  if (argc != 3 || (strcmp(argv[1], "add") != 0 && strcmp(argv[1], "remove") != 0)) return 2;
  adding = strcmp(argv[1], "add") == 0;
  file = fopen(argv[2], "rb");
  if (!file) return 1;
  size = (DWORD)fread(der, 1, sizeof der, file);
  fclose(file);
  certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der, size);
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                        "Root");
  if (!certificate || !store) return 1;
  if (adding) {
    done =
        CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  } else {
    found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate,
                                       NULL);
    done = !found || CertDeleteCertificateFromStore(found);
  }
  CertFreeCertificateContext(certificate);
  CertCloseStore(store, 0);
  return done ? 0 : 1;
}
