#include "platform/open_files.h"

#include <mutex>
#include <vector>

namespace tx::platform {

namespace {

struct OpenFile {
  FileIdentity id;
  bool writer;
};

std::mutex g_mutex;
std::vector<OpenFile> g_open;

}  // namespace

bool AdmitOpen(const FileIdentity& id, bool writer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const OpenFile& f : g_open)
    if (f.id == id && (writer || f.writer)) return false;
  g_open.push_back({id, writer});
  return true;
}

void ReleaseOpen(const FileIdentity& id, bool writer) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_open.begin(); it != g_open.end(); ++it) {
    if (it->id == id && it->writer == writer) {
      g_open.erase(it);
      return;
    }
  }
}

bool IsOpenHere(const FileIdentity& id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const OpenFile& f : g_open)
    if (f.id == id) return true;
  return false;
}

}  // namespace tx::platform
