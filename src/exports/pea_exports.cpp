// The PEA archive exports.
#include "pea/pea_list.h"
#include "pea/pea_pack.h"
#include "pea/pea_unpack.h"
#include "pea/pea_volume.h"
#include "tessarex.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL pea_pack1(void* parent, const char* archive, const char* source,
                                          const char* password, const char* key_file, const uint32_t* options) {
  return tx::pea::pea_pack1(parent, archive, source, password, key_file, options);
}

TessarexStatus TESSAREX_STDCALL pea_pack2(void* parent, const char* archive, const char* source,
                                          const char* password, const char* key_file, const uint32_t* options) {
  return tx::pea::pea_pack2(parent, archive, source, password, key_file, options);
}

TessarexStatus TESSAREX_STDCALL pea_unpack1(void* parent, const char* archive, const char* directory,
                                            const char* password, const char* key_file, const uint32_t* options) {
  return tx::pea::pea_unpack1(parent, archive, directory, password, key_file, options);
}

TessarexStatus TESSAREX_STDCALL pea_unpack2(void* parent, const char* archive, const char* directory,
                                            const char* filter, const char* password, const char* key_file,
                                            const uint32_t* options) {
  return tx::pea::pea_unpack2(parent, archive, directory, filter, password, key_file, options);
}

TessarexStatus TESSAREX_STDCALL pea_list(void* parent, const char* archive, const char* password,
                                         const char* key_file, char* output, uint32_t output_size,
                                         const uint32_t* options) {
  return tx::pea::pea_list(parent, archive, password, key_file, output, output_size, options);
}

TessarexStatus TESSAREX_STDCALL pea_split(void* parent, const char* archive, const char* directory,
                                          const uint32_t* options) {
  return tx::pea::pea_split(parent, archive, directory, options);
}

TessarexStatus TESSAREX_STDCALL pea_join(void* parent, const char* volume, const char* directory,
                                         const uint32_t* options) {
  return tx::pea::pea_join(parent, volume, directory, options);
}

}  // extern "C"
