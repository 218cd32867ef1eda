#include "frame/library.h"

#include "crypto/provider.h"
#include "frame/random.h"
#include "platform/system.h"
#include "ui/progress.h"

namespace tx::frame {

namespace {
const void* g_module = nullptr;
}  // namespace

void OnLibraryLoad() {
  g_module = platform::ModuleAddress();
  crypto::InitCryptoLibrary();
  ClearSeededFlag();
}

void OnLibraryUnload() {
  ui::ProgressClose();
  WipeGenerator();
  crypto::ReleaseCryptoProviders();
  g_module = nullptr;
}

const void* ModuleHandle() { return g_module; }

}  // namespace tx::frame
