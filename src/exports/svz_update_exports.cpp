// The 7z update exports: adding entries of one archive to another, and deleting entries.
#include "svz/svz_update.h"
#include "tessarex.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL svz_add(void* parent, const char* destination, const char* source,
                                        const char* work_folder, const char* filter, const char* password,
                                        const uint32_t* options) {
  return tx::svz::svz_add(parent, destination, source, work_folder, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_add2(void* parent, const char* destination, const char* source,
                                         const char* work_folder, const char* filter, const char* password,
                                         const uint32_t* options) {
  return tx::svz::svz_add2(parent, destination, source, work_folder, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_delete(void* parent, const char* archive, const char* work_folder,
                                           const char* filter, const char* password,
                                           const uint32_t* options) {
  return tx::svz::svz_delete(parent, archive, work_folder, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL svz_delete2(void* parent, const char* archive, const char* work_folder,
                                            const char* filter, const char* password,
                                            const uint32_t* options) {
  return tx::svz::svz_delete2(parent, archive, work_folder, filter, password, options);
}

}  // extern "C"
