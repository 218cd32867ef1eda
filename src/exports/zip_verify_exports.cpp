// The ZIP signature check: every signature of an archive, and who signed.
#include "tessarex.h"
#include "zip/zip_verify.h"

extern "C" {

TessarexStatus TESSAREX_STDCALL tessarex_zip_verify(void* parent, const char* archive, const char* password,
                                                    char* report, uint32_t report_size, uint32_t flags) {
  return tx::zip::VerifyArchive(parent, archive, password, report, report_size, flags);
}

}  // extern "C"
