// The 7z packing exports.
#include "svz/svz_pack.h"
#include "tessarex.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL svz_pack1(void* parent, const char* archive, const char* source,
                                          const char* password, const uint32_t* options) {
  return tx::svz::svz_pack1(parent, archive, source, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_pack2(void* parent, const char* archive, const char* source,
                                          const char* password, const uint32_t* options) {
  return tx::svz::svz_pack2(parent, archive, source, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_pack3(void* parent, const char* archive, const char* source,
                                          const char* password, const uint32_t* options) {
  return tx::svz::svz_pack3(parent, archive, source, password, options);
}

}  // extern "C"
