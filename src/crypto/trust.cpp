#include "crypto/trust.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace tx::crypto {

namespace {

struct Store {
  X509_STORE* p = X509_STORE_new();
  ~Store() { X509_STORE_free(p); }
};
struct StoreContext {
  X509_STORE_CTX* p = X509_STORE_CTX_new();
  ~StoreContext() { X509_STORE_CTX_free(p); }
};
struct Stack {
  STACK_OF(X509) * p = sk_X509_new_null();
  ~Stack() { sk_X509_free(p); }  // the certificates stay with their owners
};

}  // namespace

bool ChainsToSystemTrust(const Certificate& leaf, const CertificateList& intermediates) {
  if (!leaf.valid()) return false;
  Store store;
  StoreContext ctx;
  Stack chain;
  if (store.p == nullptr || ctx.p == nullptr || chain.p == nullptr ||
      X509_STORE_set_default_paths(store.p) != 1)
    return false;
  for (const Certificate& c : intermediates)
    if (c.valid() && c.x509() != leaf.x509() && sk_X509_push(chain.p, c.x509()) <= 0) return false;
  if (X509_STORE_CTX_init(ctx.p, store.p, leaf.x509(), chain.p) != 1) return false;
  return X509_verify_cert(ctx.p) == 1;
}

}  // namespace tx::crypto
