// The ZIP packing exports.
#include "tessarex.h"
#include "zip/zip_pack.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL zip_pack1(void* parent, const char* archive, const char* source,
                                          const char* password, const uint32_t* options) {
  return tx::zip::zip_pack1(parent, archive, source, password, options);
}

TessarexStatus TESSAREX_STDCALL zip_pack2(void* parent, const char* archive, const char* source,
                                          const char* password, const uint32_t* options) {
  return tx::zip::zip_pack2(parent, archive, source, password, options);
}

}  // extern "C"
