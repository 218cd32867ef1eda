// The ZIP reading exports: extraction and listing.
#include "tessarex.h"
#include "zip/zip_list.h"
#include "zip/zip_unpack.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL zip_unpack1(void* parent, const char* archive, const char* directory,
                                            const char* password, const uint32_t* options) {
  return tx::zip::zip_unpack1(parent, archive, directory, password, options);
}

TessarexStatus TESSAREX_STDCALL zip_unpack2(void* parent, const char* archive, const char* directory,
                                            const char* filter, const char* password,
                                            const uint32_t* options) {
  return tx::zip::zip_unpack2(parent, archive, directory, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL zip_list(void* parent, const char* archive, const char* password,
                                         char* output, uint32_t output_size, const uint32_t* options) {
  return tx::zip::zip_list(parent, archive, password, output, output_size, options);
}

}  // extern "C"
