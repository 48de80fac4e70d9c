/* Adds a certificate to the machine's trusted roots of the wine prefix it runs
   in, or takes it out again: what an administrator does on Windows with a
   company's own certification authority. The registry store of the machine's
   roots is written itself (wine deletes nothing through the system store's
   collection). Usage: trust_root add|remove <certificate, PEM or DER> */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <wincrypt.h>

int main(int argc, char** argv) {
  static BYTE file_bytes[65536], der[65536];
  FILE* file;
  DWORD size, der_size = sizeof der;
  HCERTSTORE store;
  PCCERT_CONTEXT certificate, found;
  int adding, done;
  if (argc != 3 || (strcmp(argv[1], "add") != 0 && strcmp(argv[1], "remove") != 0)) return 2;
  adding = strcmp(argv[1], "add") == 0;
  file = fopen(argv[2], "rb");
  if (!file) return 1;
  size = (DWORD)fread(file_bytes, 1, sizeof file_bytes, file);
  fclose(file);
  if (!CryptStringToBinaryA((const char*)file_bytes, size, CRYPT_STRING_BASE64HEADER, der,
                            &der_size, NULL, NULL)) {
    memcpy(der, file_bytes, size);
    der_size = size;
  }
  certificate = CertCreateCertificateContext(X509_ASN_ENCODING, der, der_size);
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
