#include "infra/KeptDocument.h"

#include <vector>

#include "platform/Platform.h"
#include "platform/WinError.h"

bool CKeptDocument::StampOf(std::string_view path, Stamp* stamp) {
  plat::IFiles& files = plat::Current().Files();
  std::vector<plat::FileEntry> found;
  if (files.Find(path, &found) != winerr::kSuccess || found.size() != 1) return false;
  stamp->size = found[0].size;
  stamp->lastWriteTime = found[0].lastWriteTime;
  return files.GetFileId(path, &stamp->id) == winerr::kSuccess;
}

xml::Document CKeptDocument::Take(std::string_view path) {
  xml::Document document = document_;
  Stamp now;
  const bool unchanged = !document.IsNull() && path == path_ && StampOf(path, &now) && now == stamp_;
  Forget();
  return unchanged ? document : xml::Document();
}

void CKeptDocument::Keep(std::string_view path, const xml::Document& document) {
  Forget();
  if (document.IsNull() || !StampOf(path, &stamp_)) return;
  path_ = path;
  document_ = document;
}

void CKeptDocument::Forget() {
  path_.clear();
  document_ = xml::Document();
  stamp_ = Stamp();
}
