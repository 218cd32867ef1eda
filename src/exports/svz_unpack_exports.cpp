// The 7z reading exports: extraction and listing.
#include "svz/svz_list.h"
#include "svz/svz_unpack.h"
#include "tessarex.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL svz_unpack1(void* parent, const char* archive, const char* directory,
                                            const char* password, const uint32_t* options) {
  return tx::svz::svz_unpack1(parent, archive, directory, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_unpack2(void* parent, const char* archive, const char* directory,
                                            const char* filter, const char* password,
                                            const uint32_t* options) {
  return tx::svz::svz_unpack2(parent, archive, directory, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_unpack3(void* parent, const char* archive, const char* directory,
                                            const char* filter, const char* password,
                                            const uint32_t* options) {
  return tx::svz::svz_unpack3(parent, archive, directory, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_list(void* parent, const char* archive, const char* password,
                                         char* output, uint32_t output_size, const uint32_t* options) {
  return tx::svz::svz_list(parent, archive, password, output, output_size, options);
}

}  // extern "C"
