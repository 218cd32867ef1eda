// The ZIP update exports: deleting members and merging archives.
#include "tessarex.h"
#include "zip/zip_update.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL zip_delete(void* parent, const char* archive, const char* work_folder,
                                           const char* filter, const char* password,
                                           const uint32_t* options) {
  return tx::zip::zip_delete(parent, archive, work_folder, filter, password, options);
}

TessarexStatus TESSAREX_STDCALL zip_add(void* parent, const char* destination, const char* source,
                                        const char* work_folder, const char* filter, const char* password,
                                        const uint32_t* options) {
  return tx::zip::zip_add(parent, destination, source, work_folder, filter, password, options);
}

}  // extern "C"
