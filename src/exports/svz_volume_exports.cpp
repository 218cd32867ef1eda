// The 7z volume exports: split and join.
#include "svz/svz_volume.h"
#include "tessarex.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL svz_split(void* parent, const char* path, const char* directory,
                                          const uint32_t* options) {
  return tx::svz::svz_split(parent, path, directory, options);
}

TessarexStatus TESSAREX_STDCALL svz_join(void* parent, const char* volume, const char* directory,
                                         const uint32_t* options) {
  return tx::svz::svz_join(parent, volume, directory, options);
}

}  // extern "C"
